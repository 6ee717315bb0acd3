// probe_gap.cpp - how long the window goes without a timer message behind a
// dead proxy.  Prints figures; it passes or fails nothing.
//
// The program's core runs as in the program: one engine step per 25 ms
// timer message on one thread, a late message never made up (a slow step
// delays the next one, as the system's timer does).  The sockets are the
// real POSIX ones and the clock is the system's, behind the test backend's
// window.  The gap is the time from one timer message to the
// next: while a step holds the thread, no message is handled, so no paint,
// no click and no key either.
//
// Dead proxies on loopback:
//   accepting  accepts every connection and never sends a byte
//   full       listen backlog 0, filled with connections it never accepts:
//              a SYN to a full queue is dropped, so a connect hangs
// Scenarios: offline (the connectivity probe runs every 6 s) behind each,
// and online with three downloads starting behind each (their page
// connects).  Last, offline without a proxy while the name server never
// answers (a look-up that hangs stands in for it): what a probe's look-up
// still holds.
//
// Of the core, only start-up, the per-message step, the engine step and
// shut-down are called, so the same source measures any version of it
// (built on this version's platform layer, bench/probe_gap.sh).
//
// Usage: quorvax_probe_gap [SECONDS per scenario, default 20]
// Output: one line per scenario, "scenario max_gap_ms p99_gap_ms
// gaps_over_100ms ms_in_gaps_over_100ms probes_failed timer_messages".
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "platform/posix/posix_io.h"
#include "bench/bench_support.h"
#include "support/loopback_proxy.h"

namespace {

typedef std::chrono::steady_clock Clock;

Clock::time_point clock_origin;

uint32_t real_ms(void) {
    return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clock_origin).count();
}

// ------------------------------------------------------------ dead proxies

int listen_loopback(int backlog, int *port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    struct sockaddr_in sa;
    memset(&sa, 0, sizeof sa);
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (bind(fd, (struct sockaddr *)&sa, sizeof sa) != 0 || listen(fd, backlog) != 0 ||
        getsockname(fd, (struct sockaddr *)&sa, &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

// Accepts every connection and keeps it, silent, until stopped.
struct AcceptingProxy {
    int fd = -1, port = 0;
    std::atomic<bool> stop{false};
    std::thread thread;
    std::vector<int> held;

    bool open() {
        fd = listen_loopback(64, &port);
        if (fd < 0) return false;
        thread = std::thread([this] {
            while (!stop) {
                struct pollfd p = {fd, POLLIN, 0};
                if (poll(&p, 1, 50) == 1) {
                    int c = accept(fd, nullptr, nullptr);
                    if (c >= 0) held.push_back(c);
                }
            }
        });
        return true;
    }
    ~AcceptingProxy() {
        stop = true;
        if (thread.joinable()) thread.join();
        for (int c : held) close(c);
        if (fd >= 0) close(fd);
    }
};

// Listens with a backlog of 0 and fills it with connections it never
// accepts: every later connect waits for a handshake that never comes.
struct FullProxy {
    int fd = -1, port = 0;
    std::vector<int> fillers;

    bool open() {
        fd = listen_loopback(0, &port);
        if (fd < 0) return false;
        struct sockaddr_in sa;
        memset(&sa, 0, sizeof sa);
        sa.sin_family = AF_INET;
        sa.sin_port = htons((uint16_t)port);
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int k = 0; k < 8; k++) {
            int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (c < 0) return false;
            connect(c, (struct sockaddr *)&sa, sizeof sa);
            fillers.push_back(c);
            struct pollfd p = {c, POLLOUT, 0};
            if (poll(&p, 1, 300) != 1) return true;   // this one hangs: the queue is full
        }
        return false;
    }
    ~FullProxy() {
        for (int c : fillers) close(c);
        if (fd >= 0) close(fd);
    }
};

// A name server that never answers: the look-up hangs until released.
std::atomic<bool> lookups_released{false};

int hanging_lookup(const char *, uint32_t *) {
    while (!lookups_released) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return 0;
}

// ------------------------------------------------------------- the program

// A fresh list.o with count queued items, and the program started on it
// with every request going to the proxy on port.
bool start_program(int count, int max_active, int proxy_port) {
    if (!write_bench_list("list.o", count, max_active, "vidcue.test/watch/gap%d", nullptr)) return false;
    fake_reset();
    fake_set_tick(real_ms());
    // Read during a step, as the engine does when a probe ends, the clock
    // must have moved by the time the step took.
    fake_set_clock_follows_real_time(1);
    if (!startup()) return false;
    use_loopback_proxy(proxy_port);
    return true;
}

struct GapRun {
    std::vector<double> gaps_ms;
    int probes_failed = 0;
    int steps = 0;
};

// Timer messages every 25 ms for the given time; online puts the engine
// online at once (with nothing probed) instead of leaving it to the probe.
GapRun run_timer(double seconds, bool online) {
    GapRun r;
    if (online) {
        app_state.online = 1;
        app_state.engine_tick = (int32_t)real_ms();
    }
    Clock::time_point begin = Clock::now();
    Clock::time_point next = begin;
    Clock::time_point last_message = begin;
    int target = app_state.probe_target;
    for (;;) {
        Clock::time_point message = Clock::now();
        if (r.steps > 0)
            r.gaps_ms.push_back(std::chrono::duration<double, std::milli>(message - last_message).count());
        last_message = message;
        app_state.current_message = PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
        per_message_step(nullptr, nullptr);
        run_engine_step();
        r.steps++;
        // A failed probe moves to the next target.
        if (app_state.probe_target != target) r.probes_failed++;
        target = app_state.probe_target;
        if (std::chrono::duration<double>(Clock::now() - begin).count() > seconds) break;
        next += std::chrono::milliseconds(TIMER_PERIOD_MS);
        if (next < Clock::now()) next = Clock::now();   // a late timer is not made up
        std::this_thread::sleep_until(next);
    }
    return r;
}

void report(const char *scenario, const GapRun &r) {
    int long_gaps = 0;
    double long_ms = 0;
    for (double g : r.gaps_ms) {
        if (g > 100.0) {
            long_gaps++;
            long_ms += g;
        }
    }
    printf("%s %.0f %.0f %d %.0f %d %d\n", scenario, percentile(r.gaps_ms, 1.0), percentile(r.gaps_ms, 0.99),
           long_gaps, long_ms, r.probes_failed, r.steps);
}

// One scenario on a fresh start of the program.
bool scenario(const char *name, bool accepting, bool online, double seconds) {
    AcceptingProxy a;
    FullProxy full;
    bool opened = accepting ? a.open() : full.open();
    int port = accepting ? a.port : full.port;
    if (!opened) {
        fprintf(stderr, "%s: no dead proxy could be made\n", name);
        return false;
    }
    // Offline: nothing to download, the probe alone.  Online: three
    // downloads at once, started by the engine one per speed sample.
    bool started = online ? start_program(3, 3, port) : start_program(0, 1, port);
    if (!started) {
        fprintf(stderr, "%s: start-up failed\n", name);
        return false;
    }
    GapRun r = run_timer(seconds, online);
    shutdown();
    report(name, r);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    double seconds = argc > 1 ? atof(argv[1]) : 20.0;
    if (seconds <= 0) seconds = 20.0;
    setvbuf(stdout, nullptr, _IOLBF, 0);
    clock_origin = Clock::now() - std::chrono::seconds(1000);
    char pattern[] = "/tmp/quorvax-probe-gap-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    std::string dir = pattern;
    if (chdir(dir.c_str()) != 0) return 1;

    bool ok = scenario("offline_accepting", true, false, seconds) &&
              scenario("offline_full", false, false, seconds) &&
              scenario("online_3_downloads_accepting", true, true, seconds) &&
              scenario("online_3_downloads_full", false, true, seconds);

    // Direct, with the look-up hanging.
    if (ok && start_program(0, 1, 0)) {
        app_state.use_proxy = 0;
        posix_set_lookup(hanging_lookup);
        GapRun r = run_timer(seconds, false);
        shutdown();
        lookups_released = true;
        posix_set_lookup(nullptr);
        report("offline_direct_lookup_hangs", r);
    }

    unlink("list.o");
    if (chdir("/") != 0) return 1;
    rmdir(dir.c_str());
    return ok ? 0 : 1;
}
