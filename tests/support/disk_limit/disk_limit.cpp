// disk_limit.cpp - a full disk for the end-to-end check where no small file
// system can be mounted (not root, or the mount refused): loaded into the
// real program with LD_PRELOAD, it answers write() to a regular file in the
// folder QUORVAX_DISK_LIMIT_DIR (an absolute path without links) as a disk
// that holds QUORVAX_DISK_LIMIT_FILE's number of bytes for all of that
// folder's files together.  A write that would pass the limit stores what
// fits and the next one fails with ENOSPC, as a full disk answers.  The
// limit is read at every write, so the check makes room by writing a larger
// number.  Only write() is limited: it is how the program stores stream
// bytes (the list file, written with pwrite, lies elsewhere).
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

typedef ssize_t (*WriteFunction)(int, const void *, size_t);

// Bytes the folder's regular files hold together; -1 when it cannot be read.
long long folder_bytes(const char *folder) {
    DIR *dir = opendir(folder);
    if (!dir) return -1;
    long long total = 0;
    while (struct dirent *entry = readdir(dir)) {
        struct stat st;
        if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
            total += st.st_size;
    }
    closedir(dir);
    return total;
}

long long read_limit(const char *limit_file) {
    FILE *file = fopen(limit_file, "r");
    if (!file) return -1;
    long long limit = -1;
    if (fscanf(file, "%lld", &limit) != 1) limit = -1;
    fclose(file);
    return limit;
}

// Whether the open file fd lies directly in folder.
bool in_folder(int fd, const char *folder) {
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0) return false;
    path[n] = 0;
    size_t length = strlen(folder);
    return strncmp(path, folder, length) == 0 && path[length] == '/' && !strchr(path + length + 1, '/');
}

// How many of count bytes may be written at fd's position: all of them for
// a file the limit does not cover.  Bytes written over the file's own bytes
// take no room; those past its end do.
size_t room_for(int fd, size_t count) {
    const char *folder = getenv("QUORVAX_DISK_LIMIT_DIR");
    const char *limit_file = getenv("QUORVAX_DISK_LIMIT_FILE");
    struct stat st;
    if (!folder || !limit_file || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !in_folder(fd, folder))
        return count;
    long long limit = read_limit(limit_file);
    long long used = folder_bytes(folder);
    off_t at = lseek(fd, 0, SEEK_CUR);
    if (limit < 0 || used < 0 || at < 0) return count;
    long long furthest = (long long)st.st_size + (limit - used);  // where the file may end
    if (furthest <= at) return 0;
    return (long long)count < furthest - at ? count : (size_t)(furthest - at);
}

}  // namespace

extern "C" ssize_t write(int fd, const void *buffer, size_t count) {
    static const WriteFunction real_write = (WriteFunction)dlsym(RTLD_NEXT, "write");
    size_t room = room_for(fd, count);
    if (room == 0 && count > 0) {
        errno = ENOSPC;
        return -1;
    }
    return real_write(fd, buffer, room);
}
