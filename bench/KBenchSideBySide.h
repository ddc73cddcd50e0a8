#pragma once
// Helpers of the side-by-side benchmarks: two readers timed in alternation within one run,
// their min and median ratio, the peak memory of each measured in a process of its own, and
// temporary files that never outlive the run.
#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <malloc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace qovbench {

// Files removed when the program ends, however the benchmarks were filtered.
inline void RemoveAtExit(const std::string& path) {
    static std::vector<std::string>* files = new std::vector<std::string>;
    static std::once_flag once;
    std::call_once(once, [] {
        std::atexit([] {
            for (const std::string& f : *files) std::remove(f.c_str());
        });
    });
    files->push_back(path);
}

// A "kB" field of /proc/self/status, in megabytes; -1 when missing.
inline double StatusMB(const char* field) {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    double value = -1.0;
    const size_t length = std::strlen(field);
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, field, length) == 0 && line[length] == ':')
            value = std::atof(line + length + 1) / 1024.0;
    if (f) std::fclose(f);
    return value;
}

// Peak resident megabytes `work` adds to this process, from a peak reset to now; -1 when
// `work` fails.
inline double AddedPeakMB(const std::function<bool()>& work) {
    // Writing 5 resets the peak to the current resident size.
    if (FILE* f = std::fopen("/proc/self/clear_refs", "w")) {
        std::fputs("5", f);
        std::fclose(f);
    }
    const double start = StatusMB("VmRSS");
    const bool ok = work();
    return ok ? StatusMB("VmHWM") - start : -1.0;
}

// Forks; the child runs `child(fd)`, which writes one double to fd and ends the process. The
// double, or -1 when anything fails.
inline double DoubleFromChild(const std::function<void(int fd)>& child) {
    int fds[2];
    if (pipe(fds) != 0) return -1.0;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return -1.0;
    }
    if (pid == 0) {
        close(fds[0]);
        child(fds[1]);
        _exit(1);
    }
    close(fds[1]);
    double value = -1.0;
    if (read(fds[0], &value, sizeof value) != sizeof value) value = -1.0;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return value;
}

// Peak resident megabytes a child process adds running `work` once; -1 when it fails.
inline double ChildPeakMB(const std::function<bool()>& work) {
    return DoubleFromChild([&](int fd) {
        // The allocator starts as in a new process: the parent's frees have raised its mmap
        // threshold, which would put large blocks on the heap and grow the peak.
        mallopt(M_MMAP_THRESHOLD, 128 * 1024);
        mallopt(M_TRIM_THRESHOLD, 128 * 1024);
        malloc_trim(0);
        const double added = AddedPeakMB(work);
        _exit(write(fd, &added, sizeof added) == sizeof added ? 0 : 1);
    });
}

inline double Seconds(const std::function<bool()>& work, bool& ok) {
    const auto start = std::chrono::steady_clock::now();
    ok = work() && ok;
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

inline double Min(std::vector<double> v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}

inline double Median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Times `ours` and `peer` alternately, one pair per iteration (the first runs first on even
// iterations, second on odd ones), and reports seconds and ratios (ours over the peer's) as
// counters: ratio_min compares the two minima, ratio_median the two medians.
inline void RunSideBySide(benchmark::State& state, const std::function<bool()>& ours,
                          const std::function<bool()>& peer) {
    std::vector<double> a, b;
    bool ok = true;
    for (auto _ : state) {
        const bool oursFirst = a.size() % 2 == 0;
        double x = 0, y = 0;
        if (oursFirst) {
            x = Seconds(ours, ok);
            y = Seconds(peer, ok);
        } else {
            y = Seconds(peer, ok);
            x = Seconds(ours, ok);
        }
        a.push_back(x);
        b.push_back(y);
    }
    if (!ok) state.SkipWithError("a read failed");
    state.counters["ours_min_s"] = Min(a);
    state.counters["peer_min_s"] = Min(b);
    state.counters["ratio_min"] = Min(a) / Min(b);
    state.counters["ratio_median"] = Median(a) / Median(b);
    double load[1] = {0};
    if (getloadavg(load, 1) == 1) state.counters["load1"] = load[0];
}

// The id in this run's temporary file names; a process started to measure a peak takes its
// parent's, so that it finds the files the parent made.
inline std::string RunId() {
    const char* id = std::getenv("QOV_BENCH_RUN_ID");
    return id ? id : std::to_string(getpid());
}

// True in a process started to measure one peak (it makes no files of its own).
inline bool IsPeakProcess() {
    return std::getenv("QOV_BENCH_PEAK_SIDE") != nullptr;
}

// Peak resident megabytes `side` adds, measured in a new run of this program that runs only
// the benchmarks `filter` names; -1 when it fails.
inline double FreshPeakMB(const char* filter, const char* side) {
    const std::string id = RunId();
    return DoubleFromChild([&](int fd) {
        setenv("QOV_BENCH_RUN_ID", id.c_str(), 1);
        setenv("QOV_BENCH_PEAK_SIDE", side, 1);
        setenv("QOV_BENCH_PEAK_FD", std::to_string(fd).c_str(), 1);
        // Its own report would only repeat the benchmark's name.
        if (FILE* null = std::fopen("/dev/null", "w")) {
            dup2(fileno(null), 1);
            dup2(fileno(null), 2);
        }
        const std::string arg = std::string("--benchmark_filter=") + filter;
        execl("/proc/self/exe", "qov_bench", arg.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    });
}

// In a peak process: runs the side it was started for once, reports what it added and ends.
inline void MeasurePeakAndExit(const std::function<bool()>& work) {
    const double added = AddedPeakMB(work);
    const char* fd = std::getenv("QOV_BENCH_PEAK_FD");
    const bool sent = fd && write(std::atoi(fd), &added, sizeof added) == sizeof added;
    _exit(sent ? 0 : 1);
}

// Peak megabytes of each side, each in a new process of its own, and their ratio. `filter`
// names the calling benchmark alone; call this before anything else the benchmark allocates.
inline void PeakSideBySide(benchmark::State& state, const char* filter,
                           const std::function<bool()>& ours, const std::function<bool()>& peer) {
    if (const char* side = std::getenv("QOV_BENCH_PEAK_SIDE"))
        MeasurePeakAndExit(std::strcmp(side, "ours") == 0 ? ours : peer);
    const double mine = FreshPeakMB(filter, "ours"), theirs = FreshPeakMB(filter, "peer");
    state.counters["ours_peak_MB"] = mine;
    state.counters["peer_peak_MB"] = theirs;
    state.counters["peak_ratio"] = mine > 0 && theirs > 0 ? mine / theirs : -1.0;
}

}  // namespace qovbench
