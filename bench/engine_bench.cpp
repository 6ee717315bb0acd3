// engine_bench.cpp - download throughput, CPU cost and engine step time,
// side by side with curl on the same loopback server.  Prints figures; it
// passes or fails nothing.
//
// The engine runs as in the program: one step every 25 ms on one thread,
// the clock read from a steady clock.  Each download is aimed at its stream
// (as a started item whose stream address is known) and followed to
// Finished; the files are checked byte for byte afterwards.
//
// With --tls only one comparison runs: one large stream (or --count at
// once) as a direct link by plain http and by https through the server's
// tunnel (the program's own OpenSSL connections, a certificate from a CA
// made for the run), with curl on the same addresses, each case timed in
// turn, --rounds times.
//
// Usage: quorvax_bench [--quick] [--many-only]
//        quorvax_bench --tls [--size MB] [--count N] [--rounds N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/app.h"
#include "app/app_state.h"
#include "bench/bench_support.h"
#include "bench/bench_server.h"
#include "engine/download_table.h"
#include "engine/engine.h"
#include "listfile/listfile.h"
#include "platform/fake/fake_platform.h"
#include "support/loopback_proxy.h"

namespace {

typedef std::chrono::steady_clock Clock;

const double MB = 1e6;
const double CAP_PER_DOWNLOAD = RECEIVE_BUFFER_SIZE / 0.025;  // one buffer-full per step

int server_port = 0;
std::string work_dir;
Clock::time_point clock_origin;

uint32_t real_ms(void) {
    return (uint32_t)std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - clock_origin).count();
}

double thread_cpu_seconds(void) {
    rusage u;
    getrusage(RUSAGE_THREAD, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

double process_cpu_seconds(void) {
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

double children_cpu_seconds(void) {
    rusage u;
    getrusage(RUSAGE_CHILDREN, &u);
    return (double)u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + (double)u.ru_stime.tv_sec +
           u.ru_stime.tv_usec / 1e6;
}

std::string stream_address(int i, uint64_t size, uint64_t rate) {
    std::string a = "cdn.bench.test/stream/b" + std::to_string(i) + "?size=" + std::to_string(size);
    if (rate) a += "&rate=" + std::to_string(rate);
    return a;
}

// A fresh list.o with count items in the work folder, and the program
// started on it through the proxy form to the bench server.
bool start_program(int count) {
    // No download is started by the engine itself (max 0).
    if (!write_bench_list("list.o", count, 0, "bench.test/watch/b%d", "bench-%d.flv")) return false;
    fake_reset();
    fake_set_tick(real_ms());
    if (!startup()) return false;
    app_state.now_tick = real_ms();
    app_state.online = 1;
    app_state.engine_tick = (int32_t)real_ms();
    use_loopback_proxy(server_port);
    return true;
}

// Null: items are the demo site's streams; "http://" or "https://": they
// are direct links with that scheme.
const char *link_scheme = nullptr;

void aim(int i, uint64_t size, uint64_t rate) {
    DownloadItem &it = downloads.items[i];
    std::string address = stream_address(i, size, rate);
    if (link_scheme) {
        it.siteKind = SITE_DIRECT_MEDIA;
        address = link_scheme + address;
    }
    snprintf(it.streamAddress, sizeof it.streamAddress, "%s", address.c_str());
    it.state = Connecting;
    it.requestStage = 2;
    it.userStarted = 1;
    it.doneSize = 0;
    it.totalSize = 0;
    it.buffer = buffer_alloc();
    it.lastActivityTick = app_state.now_tick;
}

void remove_files(int count) {
    for (int i = 0; i < count; i++) unlink(("bench-" + std::to_string(i) + ".flv").c_str());
    for (int i = 0; i < count; i++) unlink(("curl-" + std::to_string(i) + ".flv").c_str());
}

struct EngineRun {
    double seconds = 0;      // first step to the last item finished
    double cpu_seconds = 0;  // of the engine's thread
    double other_cpu_seconds = 0;  // of the rest of the process: the server
    int finished = 0;
    int exact = 0;
    std::vector<double> step_us;  // every step while all items were downloading
    std::vector<double> sample_step_us;  // those of them that took a speed sample
    // For each measured step: the engine thread's CPU time in it, the items
    // that wrote a block in it, and whether the thread was switched out
    // against its will during it.
    std::vector<double> step_cpu_us;
    std::vector<int> step_flushes;
    std::vector<int> step_preempted;
    // Reads of items downloading before and after a step: how many, how
    // many took all the room the buffer had, and the bytes they took.
    int64_t item_reads = 0, full_reads = 0;
    double read_bytes = 0;
    int steps = 0;
};

double thread_cpu_us(void) {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

long involuntary_switches(void) {
    rusage u;
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_nivcsw;
}

int all_downloading(int count) {
    for (int i = 0; i < count; i++)
        if (downloads.items[i].state != Downloading) return 0;
    return 1;
}

int finished_count(int count) {
    int n = 0;
    for (int i = 0; i < count; i++) n += downloads.items[i].state == Finished;
    return n;
}

// One engine step every 25 ms until every item is finished or the time is up;
// stop_after, when not 0, ends the run after that many seconds of steps.
// With spread, item i's rate is rate * (0.5 + i / count): the same total,
// but the items do not fill their blocks in the same step.
EngineRun run_engine(int count, uint64_t size, uint64_t rate, double limit_seconds, double stop_after,
                     bool spread = false) {
    EngineRun r;
    if (!start_program(count)) {
        fprintf(stderr, "start-up failed\n");
        return r;
    }
    for (int i = 0; i < count; i++)
        aim(i, size, spread ? (uint64_t)((double)rate * (0.5 + (double)i / count)) : rate);
    std::vector<uint32_t> done_before((size_t)count), fill_before((size_t)count), state_before((size_t)count);
    double cpu0 = thread_cpu_seconds(), process0 = process_cpu_seconds();
    Clock::time_point begin = Clock::now();
    Clock::time_point next = begin;
    for (;;) {
        fake_set_tick(real_ms());
        app_state.current_message = PlatMessage{app_state.window, PLAT_WM_TIMER, PROGRAM_TIMER_ID, 0};
        per_message_step(nullptr, nullptr);
        bool measured = all_downloading(count);
        for (int i = 0; i < count; i++) {
            done_before[i] = downloads.items[i].doneSize;
            fill_before[i] = downloads.items[i].bufferFill;
            state_before[i] = downloads.items[i].state;
        }
        long switches0 = involuntary_switches();
        double cpu_us0 = thread_cpu_us();
        Clock::time_point s0 = Clock::now();
        run_engine_step();
        Clock::time_point s1 = Clock::now();
        double cpu_us1 = thread_cpu_us();
        long switches1 = involuntary_switches();
        r.steps++;
        for (int i = 0; i < count; i++) {
            const DownloadItem &it = downloads.items[i];
            if (state_before[i] != Downloading || it.state != Downloading) continue;
            uint32_t got = (it.doneSize - done_before[i]) + it.bufferFill - fill_before[i];
            r.item_reads++;
            r.full_reads += got == RECEIVE_BUFFER_SIZE - fill_before[i];
            r.read_bytes += got;
        }
        if (measured) {
            double us = std::chrono::duration<double, std::micro>(s1 - s0).count();
            r.step_us.push_back(us);
            if (app_state.sample_due) r.sample_step_us.push_back(us);
            int flushes = 0;
            for (int i = 0; i < count; i++) flushes += downloads.items[i].doneSize != done_before[i];
            r.step_cpu_us.push_back(cpu_us1 - cpu_us0);
            r.step_flushes.push_back(flushes);
            r.step_preempted.push_back(switches1 != switches0);
        }
        double elapsed = std::chrono::duration<double>(s1 - begin).count();
        if (finished_count(count) == count) break;
        if (elapsed > limit_seconds || (stop_after > 0 && elapsed > stop_after)) break;
        next += std::chrono::milliseconds(TIMER_PERIOD_MS);
        if (next < Clock::now()) next = Clock::now();  // a late timer is not made up
        std::this_thread::sleep_until(next);
    }
    r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    r.cpu_seconds = thread_cpu_seconds() - cpu0;
    r.other_cpu_seconds = process_cpu_seconds() - process0 - r.cpu_seconds;
    r.finished = finished_count(count);
    shutdown();
    if (stop_after == 0)
        for (int i = 0; i < count; i++)
            r.exact += bench_file_is_stream("bench-" + std::to_string(i) + ".flv", size);
    return r;
}

struct CurlRun {
    double seconds = 0;
    double cpu_seconds = 0;
    double server_cpu_seconds = 0;
    int exact = 0;
};

// curl through the same server, by scheme ("https://" goes through its
// tunnel, trusting the run's CA).
CurlRun run_curl(int count, uint64_t size, uint64_t rate, const char *scheme = "http://") {
    CurlRun r;
    std::string proxy = "http://127.0.0.1:" + std::to_string(server_port);
    double cpu0 = children_cpu_seconds(), server0 = process_cpu_seconds();
    Clock::time_point begin = Clock::now();
    std::vector<pid_t> pids;
    for (int i = 0; i < count; i++) {
        std::string out = "curl-" + std::to_string(i) + ".flv";
        std::string url = scheme + stream_address(i, size, rate);
        pid_t pid = fork();
        if (pid == 0) {
            execlp("curl", "curl", "-s", "--cacert", "ca.pem", "-o", out.c_str(), "-x", proxy.c_str(), url.c_str(),
                   (char *)nullptr);
            _exit(127);
        }
        pids.push_back(pid);
    }
    for (pid_t pid : pids) waitpid(pid, nullptr, 0);
    r.seconds = std::chrono::duration<double>(Clock::now() - begin).count();
    r.cpu_seconds = children_cpu_seconds() - cpu0;
    r.server_cpu_seconds = process_cpu_seconds() - server0;
    for (int i = 0; i < count; i++) r.exact += bench_file_is_stream("curl-" + std::to_string(i) + ".flv", size);
    return r;
}

// Where the step time goes: steps grouped by how many items wrote a block,
// each group's wall and CPU time, and the slowest steps on their own.  A
// step whose wall time is far above its CPU time was waiting (switched out
// or blocked), not working.
void print_step_detail(const EngineRun &r, int count) {
    size_t n = r.step_us.size();
    if (n == 0) return;
    const int bounds[][2] = {{0, 0}, {1, count / 5}, {count / 5 + 1, count * 4 / 5}, {count * 4 / 5 + 1, count}};
    for (const auto &b : bounds) {
        std::vector<double> wall, cpu;
        int preempted = 0;
        for (size_t k = 0; k < n; k++) {
            if (r.step_flushes[k] < b[0] || r.step_flushes[k] > b[1]) continue;
            wall.push_back(r.step_us[k]);
            cpu.push_back(r.step_cpu_us[k]);
            preempted += r.step_preempted[k];
        }
        if (wall.empty()) continue;
        printf("  %2d-%2d blocks written: %4zu steps, wall median %5.0f us max %5.0f us, CPU median %5.0f us max %5.0f us, "
               "%d switched out\n",
               b[0], b[1], wall.size(), percentile(wall, 0.5), percentile(wall, 1.0), percentile(cpu, 0.5),
               percentile(cpu, 1.0), preempted);
    }
    std::vector<size_t> order(n);
    for (size_t k = 0; k < n; k++) order[k] = k;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return r.step_us[a] > r.step_us[b]; });
    size_t slow = n / 50 > 3 ? n / 50 : 3;
    if (slow > n) slow = n;
    printf("  slowest %zu steps (wall us / CPU us / blocks / switched out):", slow);
    for (size_t k = 0; k < slow; k++)
        printf(" %.0f/%.0f/%d/%d", r.step_us[order[k]], r.step_cpu_us[order[k]], r.step_flushes[order[k]],
               r.step_preempted[order[k]]);
    printf("\n");
}

void compare(const char *label, int count, uint64_t size, uint64_t rate) {
    EngineRun e = run_engine(count, size, rate, 600, 0);
    CurlRun c = run_curl(count, size, rate);
    double bytes = (double)count * (double)size;
    double e_rate = e.seconds > 0 ? bytes / e.seconds : 0;
    double c_rate = c.seconds > 0 ? bytes / c.seconds : 0;
    printf("\n%s: %d x %.0f MB%s\n", label, count, size / MB,
           rate ? (" at " + std::to_string(rate / 1000000) + " MB/s per connection").c_str() : ", unthrottled");
    printf("  engine: %6.2f s  %7.1f MB/s total  %6.1f MB/s per download  (%d/%d finished, %d byte-exact)\n",
           e.seconds, e_rate / MB, e_rate / count / MB, e.finished, count, e.exact);
    printf("  curl:   %6.2f s  %7.1f MB/s total  %6.1f MB/s per download  (%d byte-exact)\n", c.seconds,
           c_rate / MB, c_rate / count / MB, c.exact);
    printf("  throughput ratio engine/curl: %.3f\n", c_rate > 0 ? e_rate / c_rate : 0);
    if (!rate)
        printf("  per download: %.1f%% of the design cap of %.1f MB/s\n", 100.0 * e_rate / count / CAP_PER_DOWNLOAD,
               CAP_PER_DOWNLOAD / MB);
    printf("  CPU s per GB: engine thread %.3f, curl processes %.3f\n", e.cpu_seconds / (bytes / 1e9),
           c.cpu_seconds / (bytes / 1e9));
    if (e.item_reads)
        printf("  engine: %d steps where %.0f were due; reads that filled the buffer's room %.1f%%, mean read %.1f%% of "
               "a buffer\n",
               e.steps, e.seconds * 1000.0 / TIMER_PERIOD_MS, 100.0 * (double)e.full_reads / (double)e.item_reads,
               100.0 * e.read_bytes / (double)e.item_reads / RECEIVE_BUFFER_SIZE);
    if (!e.step_us.empty())
        printf("  engine step while all downloading: median %.0f us, p99 %.0f us, max %.0f us (%zu steps)\n",
               percentile(e.step_us, 0.5), percentile(e.step_us, 0.99), percentile(e.step_us, 1.0),
               e.step_us.size());
    remove_files(count);
}

// count streams of size bytes each as direct links, by plain http and by
// https, the engine's two runs and curl's two taken in turn so that a
// change in the machine's load hits all four alike.  Per case: the time,
// MB/s in all, CPU seconds per 100 MB of the client (the engine's thread,
// or curl) and of the server; for the engine how much it took per step and
// how long its steps took, since it runs on the GUI thread.
void compare_tls(int count, uint64_t size, int round) {
    const char *schemes[] = {"http://", "https://"};
    EngineRun e[2];
    CurlRun c[2];
    for (int k = 0; k < 2; k++) {
        link_scheme = schemes[k];
        e[k] = run_engine(count, size, 0, 600, 0);
        remove_files(count);
        c[k] = run_curl(count, size, 0, schemes[k]);
        remove_files(count);
    }
    link_scheme = nullptr;
    const double bytes = (double)count * (double)size, per100 = 100.0 * MB / bytes;
    printf("\nround %d: %d download%s of %.0f MB, plain http and https (direct links)\n", round, count,
           count > 1 ? "s at once" : "", size / MB);
    printf("  %-13s %7s %9s %23s %14s  %s\n", "", "s", "MB/s", "CPU s/100 MB client", "server", "");
    for (int k = 0; k < 2; k++) {
        const EngineRun &r = e[k];
        double rate = r.seconds > 0 ? bytes / r.seconds : 0;
        printf("  engine %-6s %7.2f %9.1f %23.3f %14.3f  (%d/%d finished, %d byte-exact; mean read %.0f bytes, "
               "%.1f%% of reads filled the buffer's room; step median %.0f us, p99 %.0f us, max %.0f us)\n",
               k ? "https" : "http", r.seconds, rate / MB, r.cpu_seconds * per100, r.other_cpu_seconds * per100,
               r.finished, count, r.exact, r.item_reads ? r.read_bytes / (double)r.item_reads : 0,
               r.item_reads ? 100.0 * (double)r.full_reads / (double)r.item_reads : 0, percentile(r.step_us, 0.5),
               percentile(r.step_us, 0.99), percentile(r.step_us, 1.0));
    }
    for (int k = 0; k < 2; k++) {
        const CurlRun &r = c[k];
        double rate = r.seconds > 0 ? bytes / r.seconds : 0;
        printf("  curl %-8s %7.2f %9.1f %23.3f %14.3f  (%d byte-exact)\n", k ? "https" : "http", r.seconds,
               rate / MB, r.cpu_seconds * per100, r.server_cpu_seconds * per100, r.exact);
    }
    printf("  ratio https/plain: engine %.3f, curl %.3f; engine https/curl https %.3f\n",
           e[1].seconds > 0 ? e[0].seconds / e[1].seconds : 0, c[1].seconds > 0 ? c[0].seconds / c[1].seconds : 0,
           e[1].seconds > 0 ? c[1].seconds / e[1].seconds : 0);
}

}  // namespace

int main(int argc, char **argv) {
    bool quick = false, many_only = false, tls = false;
    uint64_t tls_size = 200000000;
    int rounds = 1, tls_count = 1;
    for (int a = 1; a < argc; a++) {
        if (!strcmp(argv[a], "--quick")) quick = true;
        if (!strcmp(argv[a], "--many-only")) many_only = true;
        if (!strcmp(argv[a], "--tls")) tls = true;
        if (!strcmp(argv[a], "--size") && a + 1 < argc) tls_size = strtoull(argv[++a], nullptr, 10) * 1000000;
        if (!strcmp(argv[a], "--rounds") && a + 1 < argc) rounds = atoi(argv[++a]);
        if (!strcmp(argv[a], "--count") && a + 1 < argc) tls_count = atoi(argv[++a]);
    }
    setvbuf(stdout, nullptr, _IOLBF, 0);
    clock_origin = Clock::now() - std::chrono::seconds(1000);
    char pattern[] = "/tmp/quorvax-bench-XXXXXX";
    if (!mkdtemp(pattern)) return 1;
    work_dir = pattern;
    if (chdir(work_dir.c_str()) != 0) return 1;
    // The client trusts the run's CA only (read at its first connection).
    if (tls && (!bench_make_certificates("cdn.bench.test") || !bench_server_use_tls() ||
                setenv("SSL_CERT_FILE", (work_dir + "/ca.pem").c_str(), 1) != 0)) {
        fprintf(stderr, "no certificate\n");
        return 1;
    }
    server_port = bench_server_start();
    if (!server_port) {
        fprintf(stderr, "no server\n");
        return 1;
    }
    printf("Quorvax engine benchmark (loopback server, 25 ms steps, %u-byte receive buffer)\n",
           RECEIVE_BUFFER_SIZE);
    printf("design cap: %.1f MB/s per download (one buffer-full per step)\n", CAP_PER_DOWNLOAD / MB);
    if (tls) {
        for (int round = 1; round <= rounds; round++) compare_tls(tls_count, tls_size, round);
    }

    const uint64_t unthrottled_one = quick ? 64000000 : 256000000;
    const uint64_t unthrottled_each = quick ? 32000000 : 128000000;
    const uint64_t throttled_one = quick ? 40000000 : 100000000;
    const uint64_t throttled_each = quick ? 20000000 : 60000000;
    const uint64_t rate = 20000000;
    if (!many_only && !tls) {
        compare("one download", 1, unthrottled_one, 0);
        compare("eight downloads at once", 8, unthrottled_each, 0);
        compare("one download", 1, throttled_one, rate);
        compare("eight downloads at once", 8, throttled_each, rate);
    }

    // Step time with 50 downloads running at 1 MB/s each: all at the same
    // rate (their blocks fill in the same steps), then at rates spread from
    // 0.5 to 1.5 MB/s (the same total); last at a fifth of that total.
    const uint64_t many_rates[] = {1000000, 1000000, 200000};
    for (int run = 0; run < (tls ? 0 : 3); run++) {
        bool spread = run > 0;
        EngineRun many = run_engine(50, 100000000, many_rates[run], 600, quick ? 4 : 8, spread);
        printf("\nengine step with 50 active downloads, %s, %zu steps over %.1f s:\n",
               !spread ? "1 MB/s each" : run == 1 ? "rates spread over 0.5-1.5 MB/s" : "rates spread over 0.1-0.3 MB/s",
               many.step_us.size(), many.seconds);
        printf("  all steps:    median %.0f us, p90 %.0f us, p99 %.0f us, max %.0f us\n",
               percentile(many.step_us, 0.5), percentile(many.step_us, 0.9), percentile(many.step_us, 0.99),
               percentile(many.step_us, 1.0));
        printf("  sample steps: median %.0f us, max %.0f us (%zu steps)\n", percentile(many.sample_step_us, 0.5),
               percentile(many.sample_step_us, 1.0), many.sample_step_us.size());
        printf("  engine thread CPU %.2f s\n", many.cpu_seconds);
        print_step_detail(many, 50);
        remove_files(50);
    }

    bench_server_stop();
    unlink("list.o");
    for (const char *made : {"ca.pem", "ca.key", "ca.srl", "server.pem", "server.key", "server.csr", "server.ext"})
        unlink(made);
    if (chdir("/") != 0) return 1;
    rmdir(work_dir.c_str());
    return 0;
}
