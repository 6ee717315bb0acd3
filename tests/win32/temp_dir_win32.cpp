// temp_dir_win32.cpp - support/temp_dir.h on Windows: a fresh folder under
// the user's temporary folder, made the working folder for one test and
// removed with everything in it afterwards.
#include <windows.h>

#include <cstdio>

#include "support/temp_dir.h"

namespace {

void remove_tree(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..") continue;
            std::string inner = path + "\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                remove_tree(inner);
            } else {
                SetFileAttributesA(inner.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(inner.c_str());
            }
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

}  // namespace

TempWorkDir::TempWorkDir() {
    char buf[MAX_PATH + 1];
    previous = GetCurrentDirectoryA(sizeof buf, buf) ? buf : ".";
    char base[MAX_PATH + 1];
    if (!GetTempPathA(sizeof base, base)) lstrcpyA(base, ".\\");
    // A name from the process id and a counter, tried until one is free.
    static unsigned counter = 0;
    for (int tries = 0; tries < 1000; tries++) {
        char name[64];
        snprintf(name, sizeof name, "quorvax-test-%lu-%u", GetCurrentProcessId(), counter++);
        std::string candidate = std::string(base) + name;
        if (CreateDirectoryA(candidate.c_str(), nullptr)) {
            path = candidate;
            break;
        }
    }
    if (path.empty()) path = base;
    if (!SetCurrentDirectoryA(path.c_str())) perror("SetCurrentDirectory");
}

TempWorkDir::~TempWorkDir() {
    if (!SetCurrentDirectoryA(previous.c_str())) perror("SetCurrentDirectory");
    if (path.find("quorvax-test-") != std::string::npos) remove_tree(path);
}
