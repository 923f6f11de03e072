// Plays the GUI in front of three contenders that all end in the same flood engine: the engine
// alone (direct), socat relaying it, and kestrowan relaying it. Measures round trip (twice:
// as the scheduler places things, and with the driver and everything it starts on one CPU),
// throughput, the relay's CPU and memory, idle CPU and start-up, in one run, and checks the
// figures against kestrowan's goals. Start-up is held against the cost of starting one program
// on this machine, measured in the same run: spawn to exit of `kestrowan --version`, taken in
// turn with every contender's starts (--starts rounds of each).
//
//   kestrowan_gui_driver --kestrowan PATH --engine PATH [--baseline PATH] [--socat PATH]
//                        [--lines N] [--roundtrips N] [--runs N] [--starts N] [--cpu N]
//                        [--out DIR]
//
// --baseline adds another kestrowan build as a fourth contender, measured in the same runs and
// rounds as the others, so that a change is held against the build before it on the same
// machine at the same time.
//
// Writes DIR/results.csv (one row per run, contender and figure) and DIR/rtt-<contender>.dat
// and DIR/rtt1-<contender>.dat (the round-trip CDFs, unpinned and on one CPU, of every run
// together), and prints a table of medians over the runs.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double microsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::micro>(Clock::now() - start).count();
}

struct Child {
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    std::vector<char> buffer = std::vector<char>(1 << 16);
    std::size_t begin = 0;
    std::size_t end = 0;
};

Child spawn(const std::vector<std::string>& command) {
    int in[2];
    int out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe");
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    std::vector<char*> argv;
    for (const std::string& word : command) {
        argv.push_back(const_cast<char*>(word.c_str()));
    }
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("cannot start " + command[0]);
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    child.toChild = in[1];
    child.fromChild = out[0];
    return child;
}

void send(Child& child, const std::string& line) {
    const std::string data = line + "\n";
    if (write(child.toChild, data.data(), data.size()) != static_cast<ssize_t>(data.size())) {
        throw std::runtime_error("write to contender failed");
    }
}

// The next line, without its line feed; the view lasts until the next call.
std::string_view nextLine(Child& child) {
    for (;;) {
        char* first = child.buffer.data() + child.begin;
        if (void* lf = std::memchr(first, '\n', child.end - child.begin)) {
            const std::size_t length = static_cast<char*>(lf) - first;
            child.begin += length + 1;
            return {first, length};
        }
        std::memmove(child.buffer.data(), first, child.end - child.begin);
        child.end -= child.begin;
        child.begin = 0;
        if (child.end == child.buffer.size()) {
            child.buffer.resize(child.buffer.size() * 2);
        }
        const ssize_t n =
            read(child.fromChild, child.buffer.data() + child.end, child.buffer.size() - child.end);
        if (n <= 0) {
            throw std::runtime_error("contender closed its output");
        }
        child.end += static_cast<std::size_t>(n);
    }
}

void expect(Child& child, std::string_view wanted) {
    while (nextLine(child) != wanted) {
    }
}

void finish(Child& child) {
    send(child, "quit");
    close(child.toChild);
    close(child.fromChild);
    int status = 0;
    waitpid(child.pid, &status, 0);
}

// The relay's CPU time, all its threads together, in milliseconds.
double cpuMs(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    unsigned long long utime = 0;
    unsigned long long stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoull(field);
        if (i == 15)
            stime = std::stoull(field);
    }
    return 1000.0 * static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double peakRssKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) {
            return std::stod(line.substr(6));
        }
    }
    return 0;
}

double percentile(std::vector<double> values, double fraction) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()))];
}

double median(std::vector<double> values) {
    return percentile(std::move(values), 0.5);
}

struct Contender {
    std::string name;
    std::vector<std::string> command;
    bool isRelay;
    bool isKestrowan;
};

struct Options {
    std::string kestrowan;
    std::string baseline;
    std::string engine;
    std::string socat = "/usr/bin/socat";
    std::string out = ".";
    long lines = 1000000;
    int roundtrips = 20000;
    int runs = 3;
    int starts = 60;  // rounds; a multiple of 4 completes the balanced order
    int cpu = -1;     // the CPU for the one-CPU round trip; -1: the first one the driver may use
};

// Confines the driver, and so every process it starts from now on, to `cpu`; returns the set
// it had, for restoreCpus.
cpu_set_t pinToCpu(int cpu) {
    cpu_set_t before;
    CPU_ZERO(&before);
    if (sched_getaffinity(0, sizeof before, &before) != 0) {
        throw std::runtime_error("sched_getaffinity");
    }
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(cpu, &one);
    if (sched_setaffinity(0, sizeof one, &one) != 0) {
        throw std::runtime_error("cannot pin to CPU " + std::to_string(cpu));
    }
    return before;
}

void restoreCpus(const cpu_set_t& cpus) {
    if (sched_setaffinity(0, sizeof cpus, &cpus) != 0) {
        throw std::runtime_error("sched_setaffinity");
    }
}

int firstAllowedCpu() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) {
        throw std::runtime_error("sched_getaffinity");
    }
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
        if (CPU_ISSET(cpu, &cpus)) {
            return cpu;
        }
    }
    throw std::runtime_error("no CPU allowed");
}

using Figures = std::map<std::string, double>;

// Spawn to exit of `kestrowan --version`: what merely starting one more program costs here.
double programStartMicros(const std::string& kestrowan) {
    const Clock::time_point start = Clock::now();
    Child child = spawn({kestrowan, "--version"});
    close(child.toChild);
    while (read(child.fromChild, child.buffer.data(), child.buffer.size()) > 0) {
    }
    close(child.fromChild);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return microsSince(start);
}

double startMicros(const Contender& contender) {
    const Clock::time_point start = Clock::now();
    Child child = spawn(contender.command);
    send(child, "uci");
    expect(child, "uciok");
    const double elapsed = microsSince(start);
    finish(child);
    return elapsed;
}

// A contender started, told the protocol, and with kestrowan's info windows set to 0.
Child startReady(const Contender& contender) {
    Child child = spawn(contender.command);
    send(child, "uci");
    expect(child, "uciok");
    if (contender.isKestrowan) {
        send(child, "setoption name TimeInfo@Kestrowan value 0");
        send(child, "setoption name TimeCurrmove@Kestrowan value 0");
    }
    send(child, "isready");
    expect(child, "readyok");
    return child;
}

// `isready` round trips; adds the median and p99 to `figures` under `prefix`, and every sample
// to `rtts`.
void measureRoundTrips(Child& child, const Options& options, const std::string& prefix,
                       Figures& figures, std::vector<double>& rtts) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(options.roundtrips));
    for (int i = 0; i < options.roundtrips; ++i) {
        const Clock::time_point start = Clock::now();
        send(child, "isready");
        expect(child, "readyok");
        samples.push_back(microsSince(start));
    }
    figures[prefix + "_median_us"] = median(samples);
    figures[prefix + "_p99_us"] = percentile(samples, 0.99);
    rtts.insert(rtts.end(), samples.begin(), samples.end());
}

// Row `row` of a Williams square of order `n` (even): across its n rows, each position holds
// each item once, and each item comes straight after each other item once.
std::vector<std::size_t> williamsRow(std::size_t n, std::size_t row) {
    std::vector<std::size_t> order;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t step = i % 2 == 0 ? n - i / 2 : (i + 1) / 2;  // 0, 1, n-1, 2, n-2, ...
        order.push_back((row + step) % n);
    }
    return order;
}

// The start of every contender and the yardstick, in rounds whose order is balanced: a start
// pays for what ran just before it (a dying process, cold caches), and the machine drifts, so
// all of them are taken side by side and none always follows the same one.
void measureStarts(const std::vector<Contender>& contenders, const Options& options,
                   std::map<std::string, Figures>& figures) {
    const std::size_t yardstick = contenders.size();
    std::size_t items = contenders.size() + 1;
    items += items % 2;  // an odd count gets an idle slot, so that the square exists
    std::vector<std::vector<double>> samples(items);
    for (int round = 0; round < options.starts; ++round) {
        for (const std::size_t item : williamsRow(items, static_cast<std::size_t>(round) % items)) {
            if (item < contenders.size()) {
                samples[item].push_back(startMicros(contenders[item]));
            } else if (item == yardstick) {
                samples[item].push_back(programStartMicros(options.kestrowan));
            }
        }
    }
    for (std::size_t i = 0; i < contenders.size(); ++i) {
        figures[contenders[i].name]["startup_us"] = median(samples[i]);
        if (contenders[i].isKestrowan) {
            figures[contenders[i].name]["program_start_us"] = median(samples[yardstick]);
        }
    }
}

Figures measure(const Contender& contender, const Options& options, std::vector<double>& rtts,
                std::vector<double>& oneCpuRtts) {
    Figures figures;
    {
        // Unpinned, each wake-up of a sleeping side mostly waits for the scheduler to bring a
        // CPU out of idle; on one CPU a round trip costs the contender's own work and the
        // switches between the processes, which is what the relay's code decides.
        const cpu_set_t cpus = pinToCpu(options.cpu);
        Child pinned = startReady(contender);
        measureRoundTrips(pinned, options, "rtt1", figures, oneCpuRtts);
        finish(pinned);
        restoreCpus(cpus);
    }

    Child child = startReady(contender);
    measureRoundTrips(child, options, "rtt", figures, rtts);

    const double cpuBefore = contender.isRelay ? cpuMs(child.pid) : 0;
    const Clock::time_point start = Clock::now();
    send(child, "go infinite");
    long infoLines = 0;
    for (;;) {
        std::string_view line = nextLine(child);
        if (line.rfind("bestmove", 0) == 0) {
            break;
        }
        infoLines += line.rfind("info ", 0) == 0;
    }
    const double seconds = microsSince(start) / 1e6;
    if (infoLines != options.lines) {
        throw std::runtime_error(contender.name + " lost lines: " + std::to_string(infoLines) +
                                 " of " + std::to_string(options.lines));
    }
    figures["lines_per_s"] = static_cast<double>(infoLines) / seconds;
    if (contender.isRelay) {
        figures["cpu_ns_per_line"] =
            (cpuMs(child.pid) - cpuBefore) * 1e6 / static_cast<double>(infoLines);
        const double idleBefore = cpuMs(child.pid);
        std::this_thread::sleep_for(std::chrono::seconds(2));
        figures["idle_cpu_ms"] = cpuMs(child.pid) - idleBefore;
        figures["peak_rss_kib"] = peakRssKiB(child.pid);
    }
    finish(child);
    return figures;
}

Options parse(int argc, char** argv) {
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const std::string value = argv[i + 1];
        if (flag == "--kestrowan")
            options.kestrowan = value;
        else if (flag == "--baseline")
            options.baseline = value;
        else if (flag == "--engine")
            options.engine = value;
        else if (flag == "--socat")
            options.socat = value;
        else if (flag == "--out")
            options.out = value;
        else if (flag == "--lines")
            options.lines = std::stol(value);
        else if (flag == "--roundtrips")
            options.roundtrips = std::stoi(value);
        else if (flag == "--runs")
            options.runs = std::stoi(value);
        else if (flag == "--starts")
            options.starts = std::stoi(value);
        else if (flag == "--cpu")
            options.cpu = std::stoi(value);
        else
            throw std::runtime_error("unknown flag " + flag);
    }
    if (options.kestrowan.empty() || options.engine.empty()) {
        throw std::runtime_error("usage: --kestrowan PATH --engine PATH [options]");
    }
    if (options.cpu < 0) {
        options.cpu = firstAllowedCpu();
    }
    return options;
}

// Every round trip of every run, sorted, thinned to about 2000 points and the last.
void writeCdf(const std::string& path, std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    std::ofstream cdf(path);
    const std::size_t step = std::max<std::size_t>(1, samples.size() / 2000);
    for (std::size_t i = 0; i < samples.size(); i += step) {
        cdf << samples[i] << ' ' << static_cast<double>(i + 1) / samples.size() << '\n';
    }
    cdf << samples.back() << " 1\n";
}

struct Goal {
    const char* text;
    bool met;
};

}  // namespace

int main(int argc, char** argv) try {
    signal(SIGPIPE, SIG_IGN);
    const Options options = parse(argc, argv);
    const std::string engine = options.engine + " " + std::to_string(options.lines);
    std::vector<Contender> contenders = {
        {"direct", {options.engine, std::to_string(options.lines)}, false, false},
        {"socat", {options.socat, "-", "EXEC:" + engine}, true, false},
        {"kestrowan",
         {options.kestrowan, options.engine, std::to_string(options.lines)},
         true,
         true},
    };
    if (!options.baseline.empty()) {
        contenders.push_back({"baseline",
                              {options.baseline, options.engine, std::to_string(options.lines)},
                              true,
                              true});
    }

    std::ofstream csv(options.out + "/results.csv");
    csv << "run,contender,figure,value\n";
    std::map<std::string, std::map<std::string, std::vector<double>>> all;
    std::map<std::string, std::vector<double>> rtts;
    std::map<std::string, std::vector<double>> oneCpuRtts;
    for (int run = 1; run <= options.runs; ++run) {
        std::map<std::string, Figures> runFigures;
        measureStarts(contenders, options, runFigures);
        for (const Contender& contender : contenders) {
            Figures& figures = runFigures[contender.name];
            figures.merge(
                measure(contender, options, rtts[contender.name], oneCpuRtts[contender.name]));
            for (const auto& [figure, value] : figures) {
                csv << run << ',' << contender.name << ',' << figure << ',' << value << '\n';
                all[contender.name][figure].push_back(value);
            }
        }
    }
    for (const Contender& contender : contenders) {
        writeCdf(options.out + "/rtt-" + contender.name + ".dat", rtts[contender.name]);
        writeCdf(options.out + "/rtt1-" + contender.name + ".dat", oneCpuRtts[contender.name]);
    }

    auto m = [&](const char* contender, const char* figure) {
        return median(all[contender][figure]);
    };
    std::printf("%-10s %14s %12s %14s %12s %12s %12s %13s %12s %12s %16s\n", "contender",
                "rtt median us", "rtt p99 us", "1-CPU rtt us", "1-CPU p99 us", "lines/s",
                "cpu ns/line", "peak RSS KiB", "idle cpu ms", "startup us", "program start us");
    for (const Contender& c : contenders) {
        const char* n = c.name.c_str();
        std::printf("%-10s %14.1f %12.1f %14.1f %12.1f %12.0f %12.1f %13.0f %12.1f %12.0f %16.0f\n",
                    n, m(n, "rtt_median_us"), m(n, "rtt_p99_us"), m(n, "rtt1_median_us"),
                    m(n, "rtt1_p99_us"), m(n, "lines_per_s"),
                    c.isRelay ? m(n, "cpu_ns_per_line") : 0.0,
                    c.isRelay ? m(n, "peak_rss_kib") : 0.0, c.isRelay ? m(n, "idle_cpu_ms") : 0.0,
                    m(n, "startup_us"), c.isKestrowan ? m(n, "program_start_us") : 0.0);
    }
    // The machine's speed drifts between runs, so each run's contenders are compared with
    // each other, and the goals read the median of those per-run comparisons.
    auto perRunOf = [&](const char* contender, const char* figure, const char* other,
                        bool difference) {
        const std::vector<double>& ours = all[contender][figure];
        const std::vector<double>& theirs = all[other][figure];
        std::vector<double> values;
        for (std::size_t run = 0; run < ours.size(); ++run) {
            values.push_back(difference ? ours[run] - theirs[run] : ours[run] / theirs[run]);
        }
        return median(values);
    };
    auto perRun = [&](const char* figure, const char* other, bool difference) {
        return perRunOf("kestrowan", figure, other, difference);
    };
    const double rttVsSocat = perRun("rtt_median_us", "socat", false);
    const double rttVsDirect = perRun("rtt_median_us", "direct", false);
    const double oneCpuRttVsSocat = perRun("rtt1_median_us", "socat", false);
    const double oneCpuRttVsDirect = perRun("rtt1_median_us", "direct", false);
    const double throughputVsSocat = perRun("lines_per_s", "socat", false);
    const double throughputVsDirect = perRun("lines_per_s", "direct", false);
    const double cpuVsSocat = perRun("cpu_ns_per_line", "socat", false);
    const double rssVsSocat = perRun("peak_rss_kib", "socat", false);
    const double startupOverheadMs = perRun("startup_us", "direct", true) / 1e3;
    const double programStartMs = m("kestrowan", "program_start_us") / 1e3;
    // Per run: a build's start-up overhead less that run's cost of starting one program.
    auto startupExcessMsOf = [&](const char* contender) {
        std::vector<double> excess;
        for (std::size_t run = 0; run < all[contender]["startup_us"].size(); ++run) {
            excess.push_back((all[contender]["startup_us"][run] - all["direct"]["startup_us"][run] -
                              all[contender]["program_start_us"][run]) /
                             1e3);
        }
        return median(excess);
    };
    const double startupExcessMs = startupExcessMsOf("kestrowan");
    const Goal goals[] = {
        {"round-trip median <= socat", rttVsSocat <= 1.0},
        {"one-CPU round-trip median <= 0.7 x socat", oneCpuRttVsSocat <= 0.7},
        {"one-CPU round-trip median <= 3.5 x direct", oneCpuRttVsDirect <= 3.5},
        {"throughput >= 1.0 x socat", throughputVsSocat >= 1.0},
        {"throughput >= 0.75 x direct", throughputVsDirect >= 0.75},
        {"relay CPU per line <= socat", cpuVsSocat <= 1.0},
        {"peak RSS <= socat", rssVsSocat <= 1.0},
        {"idle CPU == 0", m("kestrowan", "idle_cpu_ms") == 0},
        {"start-up overhead <= one program start + 0.5 ms", startupExcessMs <= 0.5},
    };
    std::printf(
        "\nkestrowan vs socat: rtt %.2fx, one-CPU rtt %.2fx, throughput %.2fx, CPU per line "
        "%.2fx, peak RSS %.2fx; vs direct: rtt %.2fx, one-CPU rtt %.2fx, throughput %.2fx; "
        "start-up overhead %.2f ms, one program start %.2f ms, overhead beyond it %.2f ms "
        "(medians of per-run figures; one CPU: CPU %d)\n",
        rttVsSocat, oneCpuRttVsSocat, throughputVsSocat, cpuVsSocat, rssVsSocat, rttVsDirect,
        oneCpuRttVsDirect, throughputVsDirect, startupOverheadMs, programStartMs, startupExcessMs,
        options.cpu);
    if (!options.baseline.empty()) {
        std::printf(
            "baseline vs direct: throughput %.2fx, start-up overhead %.2f ms, beyond one program "
            "start %.2f ms; CPU per line %.2fx socat's\n",
            perRunOf("baseline", "lines_per_s", "direct", false),
            perRunOf("baseline", "startup_us", "direct", true) / 1e3, startupExcessMsOf("baseline"),
            perRunOf("baseline", "cpu_ns_per_line", "socat", false));
    }
    bool allMet = true;
    for (const Goal& goal : goals) {
        std::printf("%s  %s\n", goal.met ? "met    " : "MISSED ", goal.text);
        allMet = allMet && goal.met;
    }
    return allMet ? 0 : 1;
} catch (const std::exception& error) {
    std::fprintf(stderr, "kestrowan_gui_driver: %s\n", error.what());
    return 2;
}
