// Runs whole processes and times them: the start-up of varnolt (exec to its first presented frame,
// timestamped by first_frame_shim) side by side with an anchor, the per-stage breakdown of one
// start-up, and the frame period of the running loop.
//
//   startup_bench compare --shim LIB [--runs N] [--warmup N] A B
//       A and B alternate, A first on even pairs and B first on odd ones, so a slow spell of the
//       machine falls on both; prints each one's median and the median of the pair-by-pair
//       ratio A ÷ B, and A's peak resident set.
//   startup_bench trace --shim LIB [--runs N] A
//       Runs A with the shim's stage timestamps on and prints the median time between each pair
//       of consecutive events, summed over the nine pictures.
//   startup_bench frames --shim LIB [--frames N] [--skip N] [--trace] A
//       Lets A present skip + N frames and prints the median and 95th percentile of the last N
//       frame periods (the time from one return of the swap to the next); with --trace, also
//       of the parts of a period: the pause, the drawing, the present and the rest of the loop.
//
// A subject is "run:DIR:PROGRAM" (PROGRAM started in DIR, under the shim) or "djpeg:DIR"
// (djpeg -outfile /dev/null on DIR/picture1.jpg … picture9.jpg, one process per file, one after
// the other, timed from the first start to the last exit).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

extern char** environ;

namespace {

constexpr int kPictureCount = 9;
constexpr int kChildTimeoutSeconds = 120;

std::int64_t Now() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "startup_bench: %s\n", message.c_str());
    std::exit(1);
}

struct Subject {
    bool djpeg = false;
    std::string dir;
    std::string program;
    std::string text;  // as given, for the report
};

// Relative paths are taken from this process's directory: the program starts in another.
std::string Absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[4096];
    return getcwd(cwd, sizeof cwd) != nullptr ? std::string(cwd) + "/" + path : path;
}

Subject ParseSubject(const std::string& text) {
    Subject subject;
    subject.text = text;
    if (text.rfind("djpeg:", 0) == 0) {
        subject.djpeg = true;
        subject.dir = text.substr(6);
        return subject;
    }
    if (text.rfind("run:", 0) == 0) {
        const std::size_t colon = text.find(':', 4);
        if (colon != std::string::npos) {
            subject.dir = text.substr(4, colon - 4);
            subject.program = Absolute(text.substr(colon + 1));
            return subject;
        }
    }
    Fail("a subject is run:DIR:PROGRAM or djpeg:DIR, not " + text);
}

struct Event {
    std::string name;
    std::int64_t ns = 0;  // CLOCK_MONOTONIC
    long faults = 0;      // the process's minor page faults so far (traced runs only)
};

struct Outcome {
    double ms = 0;          // start to first frame (or to the last djpeg's exit)
    double maxRssMiB = 0;   // the child's peak resident set (largest of the djpeg processes)
    long minorFaults = 0;   // page faults served without I/O (sum over the djpeg processes)
    double cpuMs = 0;       // user + system time of the child's threads (sum over djpeg's)
    std::vector<Event> events;  // the shim's, when run under it
};

// Starts argv in dir with extra environment entries, output to /dev/null; returns its pid.
pid_t Spawn(const std::vector<std::string>& argv, const std::string& dir,
            const std::vector<std::string>& extraEnv) {
    // The shim's settings and any preload come only from the caller, never from this
    // process's own environment.
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (entry.rfind("VARNOLT_SHIM_", 0) != 0 && entry.rfind("LD_PRELOAD=", 0) != 0) {
            env.push_back(entry);
        }
    }
    for (const std::string& extra : extraEnv) {
        const std::string key = extra.substr(0, extra.find('=') + 1);
        std::erase_if(env, [&](const std::string& e) { return e.rfind(key, 0) == 0; });
        env.push_back(extra);
    }
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> args = argv;
    std::vector<char*> argp;
    for (std::string& a : args) argp.push_back(a.data());
    argp.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (!dir.empty()) {
        posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    }
    // The child starts with no signal blocked, whatever this process blocks.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, argp[0], &actions, &attributes, argp.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        Fail("cannot start " + argv[0] + ": " + std::strerror(error));
    }
    return pid;
}

// Waits for the child, ending it if it outlives the time-out; fails unless it exited with 0.
// SIGCHLD is blocked in this process (see main) and waited for, so the exit is seen at once:
// polling would add its interval to every djpeg run.
rusage Reap(pid_t pid, const std::string& what) {
    const std::int64_t deadline = Now() + std::int64_t{kChildTimeoutSeconds} * 1000000000;
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    int status = 0;
    rusage usage{};
    for (;;) {
        const pid_t done = wait4(pid, &status, WNOHANG, &usage);
        if (done == pid) break;
        if (done < 0 && errno != EINTR) Fail("wait4: " + std::string(std::strerror(errno)));
        const std::int64_t left = deadline - Now();
        if (left <= 0) {
            kill(pid, SIGKILL);
            wait4(pid, &status, 0, &usage);
            Fail(what + " did not finish within " + std::to_string(kChildTimeoutSeconds) + " s");
        }
        const timespec timeout{static_cast<time_t>(left / 1000000000),
                               static_cast<long>(left % 1000000000)};
        sigtimedwait(&childSignal, nullptr, &timeout);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        Fail(what + " failed (status " + std::to_string(status) + ")");
    }
    return usage;
}

double CpuMs(const rusage& usage) {
    const auto ms = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

std::string ShimOutPath() {
    static const std::string path = [] {
        const char* tmp = std::getenv("TMPDIR");
        return std::string(tmp != nullptr ? tmp : "/tmp") + "/varnolt-shim-" +
               std::to_string(getpid()) + ".txt";
    }();
    return path;
}

Outcome RunSubject(const Subject& subject, const std::string& shim, long frames, bool trace) {
    Outcome outcome;
    if (subject.djpeg) {
        const std::int64_t start = Now();
        for (int n = 1; n <= kPictureCount; ++n) {
            const std::string file = subject.dir + "/picture" + std::to_string(n) + ".jpg";
            const pid_t pid = Spawn({"djpeg", "-outfile", "/dev/null", file}, "", {});
            const rusage usage = Reap(pid, "djpeg " + file);
            outcome.maxRssMiB = std::max(outcome.maxRssMiB, static_cast<double>(usage.ru_maxrss) / 1024.0);
            outcome.minorFaults += usage.ru_minflt;
            outcome.cpuMs += CpuMs(usage);
        }
        outcome.ms = static_cast<double>(Now() - start) / 1e6;
        return outcome;
    }
    const std::string out = ShimOutPath();
    std::remove(out.c_str());
    std::vector<std::string> env = {"LD_PRELOAD=" + shim, "VARNOLT_SHIM_OUT=" + out,
                                    "VARNOLT_SHIM_FRAMES=" + std::to_string(frames)};
    if (trace) env.emplace_back("VARNOLT_SHIM_TRACE=1");
    const std::int64_t start = Now();
    const pid_t pid = Spawn({subject.program}, subject.dir, env);
    const rusage usage = Reap(pid, subject.program);
    outcome.maxRssMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;
    outcome.minorFaults = usage.ru_minflt;
    outcome.cpuMs = CpuMs(usage);
    std::ifstream in(out);
    outcome.events.push_back({"spawn", start, 0});
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        Event event;
        if (fields >> event.name >> event.ns >> event.faults) outcome.events.push_back(event);
    }
    std::remove(out.c_str());
    const auto swap = std::find_if(outcome.events.begin(), outcome.events.end(),
                                   [](const Event& e) { return e.name == "swap"; });
    if (swap == outcome.events.end()) {
        Fail(subject.program + " presented no frame (is the shim loaded, and a display there?)");
    }
    outcome.ms = static_cast<double>(swap->ns - start) / 1e6;
    return outcome;
}

double Quantile(std::vector<double> values, double q) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    // Nearest rank on the sorted values, interpolating between neighbours.
    const double position = q * static_cast<double>(values.size() - 1);
    const std::size_t below = static_cast<std::size_t>(position);
    const std::size_t above = std::min(below + 1, values.size() - 1);
    const double fraction = position - static_cast<double>(below);
    return values[below] + (values[above] - values[below]) * fraction;
}
double Median(const std::vector<double>& values) { return Quantile(values, 0.5); }

struct Options {
    std::string mode;
    std::string shim;
    int runs = 15;
    int warmup = 2;
    long frames = 500;
    long skip = 20;
    bool trace = false;
    std::vector<Subject> subjects;
};

Options ParseOptions(int argc, char** argv) {
    if (argc < 2) Fail("usage: startup_bench compare|trace|frames --shim LIB [options] SUBJECT...");
    Options options;
    options.mode = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= argc) Fail(arg + " needs a value");
            return argv[++i];
        };
        if (arg == "--shim") options.shim = value();
        else if (arg == "--runs") options.runs = std::stoi(value());
        else if (arg == "--warmup") options.warmup = std::stoi(value());
        else if (arg == "--frames") options.frames = std::stol(value());
        else if (arg == "--skip") options.skip = std::stol(value());
        else if (arg == "--trace") options.trace = true;
        else options.subjects.push_back(ParseSubject(arg));
    }
    if (options.shim.empty()) Fail("--shim LIB is needed");
    options.shim = Absolute(options.shim);
    return options;
}

int Compare(const Options& options) {
    if (options.subjects.size() != 2) Fail("compare needs two subjects");
    const Subject& a = options.subjects[0];
    const Subject& b = options.subjects[1];
    for (int i = 0; i < options.warmup; ++i) {
        RunSubject(a, options.shim, 1, false);
        RunSubject(b, options.shim, 1, false);
    }
    std::vector<double> aMs, bMs, ratios, rss, faults, aCpu, bCpu, cpuRatios;
    for (int i = 0; i < options.runs; ++i) {
        Outcome first;
        Outcome second;
        if (i % 2 == 0) {
            first = RunSubject(a, options.shim, 1, false);
            second = RunSubject(b, options.shim, 1, false);
        } else {
            second = RunSubject(b, options.shim, 1, false);
            first = RunSubject(a, options.shim, 1, false);
        }
        aMs.push_back(first.ms);
        bMs.push_back(second.ms);
        ratios.push_back(first.ms / second.ms);
        rss.push_back(first.maxRssMiB);
        faults.push_back(static_cast<double>(first.minorFaults));
        aCpu.push_back(first.cpuMs);
        bCpu.push_back(second.cpuMs);
        cpuRatios.push_back(first.cpuMs / second.cpuMs);
    }
    std::printf("A %s\n  median %.1f ms (min %.1f, max %.1f), peak RSS median %.1f MiB (max %.1f), "
                "%.0f minor page faults\n",
                a.text.c_str(), Median(aMs), Quantile(aMs, 0), Quantile(aMs, 1), Median(rss),
                Quantile(rss, 1), Median(faults));
    std::printf("B %s\n  median %.1f ms (min %.1f, max %.1f)\n", b.text.c_str(), Median(bMs),
                Quantile(bMs, 0), Quantile(bMs, 1));
    std::printf("A/B pair by pair over %d pairs: median %.3f (min %.3f, max %.3f)\n", options.runs,
                Median(ratios), Quantile(ratios, 0), Quantile(ratios, 1));
    // Processor time is less swayed by other work on the machine than the elapsed time, though
    // it counts every thread (llvmpipe's too) and misses time spent waiting for the X server.
    std::printf("processor time: A median %.1f ms, B median %.1f ms, A/B pair by pair median "
                "%.3f\n",
                Median(aCpu), Median(bCpu), Median(cpuRatios));
    std::printf("summary a_ms=%.1f b_ms=%.1f ratio=%.3f ratio_min=%.3f ratio_max=%.3f a_rss_mib=%.1f "
                "a_rss_max_mib=%.1f cpu_ratio=%.3f\n",
                Median(aMs), Median(bMs), Median(ratios), Quantile(ratios, 0), Quantile(ratios, 1),
                Median(rss), Quantile(rss, 1), Median(cpuRatios));
    return 0;
}

// Readable names for the stretch between two consecutive shim events.
std::string StageName(const std::string& from, const std::string& to) {
    static const std::map<std::pair<std::string, std::string>, std::string> names = {
        {{"spawn", "loaded"}, "exec, dynamic linking, library constructors"},
        {{"loaded", "sdl_init"}, "SDL_Init (X connection)"},
        {{"sdl_init", "window"}, "SDL_CreateWindow"},
        {{"window", "context"}, "GL context (llvmpipe start)"},
        {{"context", "file_open"}, "context made current, vendor string"},
        {{"file_open", "jpeg_header"}, "picture: read the file, recognise it"},
        {{"jpeg_header", "jpeg_destroy"}, "picture: header for the size"},
        {{"jpeg_destroy", "jpeg_header"}, "picture: size rule, GL max size, drawing target"},
        {{"jpeg_header", "decode_begin"}, "picture: decoder set-up"},
        {{"decode_begin", "decode_end"}, "picture: JPEG decode (reduced scale)"},
        {{"decode_end", "jpeg_destroy"}, "picture: stretch to the texture size"},
        {{"jpeg_destroy", "gen_textures"}, "picture: free decode buffers, colour key"},
        {{"gen_textures", "upload_begin"}, "picture: texture name, parameters"},
        {{"upload_begin", "upload_end"}, "picture: glTexImage2D"},
        {{"upload_end", "file_open"}, "picture: free target, next name"},
        {{"file_open", "file_open"}, "picture: missing file"},
        {{"upload_end", "show_begin"}, "after the last picture, to ShowWindow"},
        {{"file_open", "show_begin"}, "after the last picture, to ShowWindow"},
        {{"show_begin", "show_end"}, "ShowWindow and its events"},
        {{"show_end", "swap"}, "first frame: draw and present"},
        {{"show_end", "sleep_begin"}, "first pass of the loop, up to the frame's pause"},
        {{"sleep_begin", "sleep_end"}, "the frame's 2 ms pause"},
        {{"sleep_end", "swap_begin"}, "first frame: draw (llvmpipe compiles its shaders)"},
        {{"show_end", "swap_begin"}, "first frame: draw"},
        {{"context", "show_begin"}, "context made current"},
        {{"swap_begin", "swap"}, "first frame: present (rasterise, copy to X)"},
    };
    const auto found = names.find({from, to});
    return found != names.end() ? found->second : from + " -> " + to;
}

int Trace(const Options& options) {
    if (options.subjects.size() != 1) Fail("trace needs one subject");
    const Subject& a = options.subjects[0];
    for (int i = 0; i < options.warmup; ++i) RunSubject(a, options.shim, 1, true);
    std::vector<std::string> order;
    std::map<std::string, std::vector<double>> stageMs;
    std::map<std::string, std::vector<double>> stageFaults;
    std::map<std::string, int> stageCount;
    std::vector<double> totals;
    for (int run = 0; run < options.runs; ++run) {
        const Outcome outcome = RunSubject(a, options.shim, 1, true);
        totals.push_back(outcome.ms);
        std::map<std::string, double> sums;
        std::map<std::string, double> faults;
        std::map<std::string, int> counts;
        for (std::size_t i = 1; i < outcome.events.size(); ++i) {
            const Event& from = outcome.events[i - 1];
            const Event& to = outcome.events[i];
            const std::string name = StageName(from.name, to.name);
            if (std::find(order.begin(), order.end(), name) == order.end()) order.push_back(name);
            sums[name] += static_cast<double>(to.ns - from.ns) / 1e6;
            if (i > 1) faults[name] += static_cast<double>(to.faults - from.faults);
            ++counts[name];
            if (to.name == "swap") break;
        }
        for (const std::string& name : order) {
            stageMs[name].push_back(sums[name]);
            stageFaults[name].push_back(faults[name]);
            stageCount[name] = counts[name];
        }
    }
    std::printf("stages of %s, median over %d runs (ms; n = times per run; minor page faults, "
                "4 KiB each)\n",
                a.text.c_str(), options.runs);
    double sum = 0;
    for (const std::string& name : order) {
        const double median = Median(stageMs[name]);
        sum += median;
        std::printf("  %8.1f  n=%-2d %7.0f faults  %s\n", median, stageCount[name],
                    Median(stageFaults[name]), name.c_str());
    }
    std::printf("  %8.1f  sum of the medians; exec to first frame median %.1f ms\n", sum,
                Median(totals));
    return 0;
}

int Frames(const Options& options) {
    if (options.subjects.size() != 1) Fail("frames needs one subject");
    const Subject& a = options.subjects[0];
    for (int i = 0; i < options.warmup; ++i) RunSubject(a, options.shim, 1, false);
    std::vector<double> periods;
    std::vector<double> medians, p95s;
    // With --trace: each period cut at the pause's start and end and at the present's start.
    std::vector<double> loop, pause, draw, present;
    for (int run = 0; run < options.runs; ++run) {
        const Outcome outcome =
            RunSubject(a, options.shim, options.skip + options.frames + 1, options.trace);
        std::vector<std::int64_t> swaps;
        std::int64_t sleepBegin = 0, sleepEnd = 0, swapBegin = 0;
        for (const Event& e : outcome.events) {
            if (e.name == "sleep_begin") sleepBegin = e.ns;
            if (e.name == "sleep_end") sleepEnd = e.ns;
            if (e.name == "swap_begin") swapBegin = e.ns;
            if (e.name != "swap") continue;
            swaps.push_back(e.ns);
            if (options.trace && swaps.size() > static_cast<std::size_t>(options.skip) + 1 &&
                sleepBegin != 0 && sleepEnd != 0 && swapBegin != 0) {
                const std::int64_t previous = swaps[swaps.size() - 2];
                loop.push_back(static_cast<double>(sleepBegin - previous) / 1e6);
                pause.push_back(static_cast<double>(sleepEnd - sleepBegin) / 1e6);
                draw.push_back(static_cast<double>(swapBegin - sleepEnd) / 1e6);
                present.push_back(static_cast<double>(e.ns - swapBegin) / 1e6);
            }
        }
        std::vector<double> mine;
        for (std::size_t i = static_cast<std::size_t>(options.skip) + 1; i < swaps.size(); ++i) {
            mine.push_back(static_cast<double>(swaps[i] - swaps[i - 1]) / 1e6);
        }
        medians.push_back(Median(mine));
        p95s.push_back(Quantile(mine, 0.95));
        periods.insert(periods.end(), mine.begin(), mine.end());
    }
    std::printf("frame period of %s: %zu periods in %d runs (after %ld frames each)%s\n",
                a.text.c_str(), periods.size(), options.runs, options.skip,
                options.trace ? ", traced" : "");
    std::printf("  median %.2f ms, p95 %.2f ms, min %.2f, max %.2f; per run median %.2f..%.2f, "
                "p95 %.2f..%.2f\n",
                Median(periods), Quantile(periods, 0.95), Quantile(periods, 0), Quantile(periods, 1),
                Quantile(medians, 0), Quantile(medians, 1), Quantile(p95s, 0), Quantile(p95s, 1));
    if (options.trace) {
        const auto show = [](const char* what, const std::vector<double>& part) {
            std::printf("  %-46s median %.2f ms, p95 %.2f ms, max %.2f ms\n", what, Median(part),
                        Quantile(part, 0.95), Quantile(part, 1));
        };
        show("the rest of the loop (peek, dispatch)", loop);
        show("the 2 ms pause (nanosleep)", pause);
        show("drawing the scene", draw);
        show("present (rasterising finishes, copy to X)", present);
    }
    std::printf("summary median_ms=%.2f p95_ms=%.2f\n", Median(periods), Quantile(periods, 0.95));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    sigset_t childSignal;
    sigemptyset(&childSignal);
    sigaddset(&childSignal, SIGCHLD);
    sigprocmask(SIG_BLOCK, &childSignal, nullptr);
    if (options.mode == "compare") return Compare(options);
    if (options.mode == "trace") return Trace(options);
    if (options.mode == "frames") return Frames(options);
    Fail("unknown mode " + options.mode + " (compare, trace, frames)");
}
