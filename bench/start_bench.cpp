// start_bench.cpp - how long the real program takes from its start to its
// window on the screen, and how much memory it holds once started.
//
// Watches the X server's root window for windows being mapped, then starts
// the program (fork and exec, the clock read just before) in the folder of
// its list, and takes the time at the MapNotify of the window named
// "Quorvax 1.0": the moment the window is shown, told by the server itself,
// without polling.  Then it waits SETTLE seconds for start-up to finish
// its work, reads VmRSS and VmHWM from /proc/PID/status, ends the program
// with SIGTERM (its quit) and waits for it.
//
// Usage: quorvax_start_bench PROGRAM FOLDER [SETTLE_S]
// Prints one line: window_ms=... rss_kb=... hwm_kb=... exit=...
// Figures only; it fails (exit 1) only when it cannot measure.
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

typedef std::chrono::steady_clock Clock;

const char WINDOW_NAME[] = "Quorvax 1.0";
const double WINDOW_TIMEOUT_S = 120.0;

long status_kb(pid_t pid, const char *field) {
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/status", (int)pid);
    FILE *f = std::fopen(path, "r");
    if (!f) return -1;
    char line[256];
    long value = -1;
    const size_t n = std::strlen(field);
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, n) == 0 && line[n] == ':') value = std::atol(line + n + 1);
    std::fclose(f);
    return value;
}

bool named_quorvax(Display *display, Window window) {
    char *name = nullptr;
    if (!XFetchName(display, window, &name) || !name) return false;
    const bool match = std::strcmp(name, WINDOW_NAME) == 0;
    XFree(name);
    return match;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: quorvax_start_bench PROGRAM FOLDER [SETTLE_S]\n");
        return 1;
    }
    const char *program = argv[1];
    const char *folder = argv[2];
    const double settle_s = argc > 3 ? std::atof(argv[3]) : 2.0;

    Display *display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "quorvax_start_bench: no X display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XSelectInput(display, root, SubstructureNotifyMask);
    XSync(display, False);

    const Clock::time_point started = Clock::now();
    const pid_t pid = fork();
    if (pid < 0) return 1;
    if (pid == 0) {
        if (chdir(folder) != 0) _exit(127);
        execl(program, program, (char *)nullptr);
        _exit(127);
    }

    // Map events arrive in the order the server sends them; a window the
    // program maps before it has a name is looked at again by name.
    double window_ms = -1;
    const int fd = ConnectionNumber(display);
    while (window_ms < 0) {
        const double waited = std::chrono::duration<double>(Clock::now() - started).count();
        if (waited > WINDOW_TIMEOUT_S) break;
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            std::fprintf(stderr, "quorvax_start_bench: the program ended before its window showed\n");
            return 1;
        }
        if (!XPending(display)) {
            fd_set read_set;
            FD_ZERO(&read_set);
            FD_SET(fd, &read_set);
            timeval timeout = {0, 100000};
            select(fd + 1, &read_set, nullptr, nullptr, &timeout);
            continue;
        }
        XEvent event;
        XNextEvent(display, &event);
        if (event.type != MapNotify) continue;
        const Clock::time_point mapped = Clock::now();
        if (named_quorvax(display, event.xmap.window))
            window_ms = std::chrono::duration<double, std::milli>(mapped - started).count();
    }
    if (window_ms < 0) {
        std::fprintf(stderr, "quorvax_start_bench: no window within %.0f s\n", WINDOW_TIMEOUT_S);
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
        return 1;
    }

    std::this_thread::sleep_for(std::chrono::duration<double>(settle_s));
    const long rss = status_kb(pid, "VmRSS");
    const long hwm = status_kb(pid, "VmHWM");
    kill(pid, SIGTERM);
    int status = 0;
    for (int k = 0; k < 300 && waitpid(pid, &status, WNOHANG) == 0; k++)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(pid, &status, WNOHANG) == 0) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
    }
    std::printf("window_ms=%.0f rss_kb=%ld hwm_kb=%ld exit=%d\n", window_ms, rss, hwm,
                WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    XCloseDisplay(display);
    return 0;
}
