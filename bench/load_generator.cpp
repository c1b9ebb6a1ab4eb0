// relay_load: the load benchmark. Plays 25 listeners and one talker (144-byte datagrams) against
// the server and against the bare relay, each started here as a child process on its own
// loopback address, and measures both in one run against the same loads: delivered share,
// added latency, CPU time per relayed datagram, resident memory, and for the server the time
// from the start of the process to its "cVARDE" line. Prints the medians of the runs and the
// ratios server/bare as a markdown table.
//
//   relay_load [--runs N] [--quick] [--server PATH] [--bare PATH] [--cpu-rate R]
//              [--cpu-rate-high R] [--only server|bare] [--no-sweep]
//
// Both targets run side by side, each with its own 26 stations and its own talker. Loads of
// a run, per target: 12.5 datagrams/s for 2 x 4 s and 50/s for 3 x 2 s, in slices that
// alternate between the targets (one idles while the other is measured); two fixed CPU
// loads (--cpu-rate, default 1000/s, and --cpu-rate-high, default 4000/s) for 8 s each on
// both targets at once, so that both meet the very same background; then the sweep for the
// highest rate at which every listener gets at least 99.9%, its steps alternating between
// the targets: 2 s steps, x1.5 up from 1000/s until a step fails, then halving the interval
// until it is within 6% (at most 12 steps per target). A run takes 80 to 110 s, so the
// default 3 runs stay near 5 minutes on 2 cores. --quick: 1 run with a quarter of the load
// lengths and 1 s sweep steps, for a smoke test.
#include "load_report.h"
#include "load_stations.h"
#include "load_target.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#ifndef RELAY_LOAD_SERVER
#define RELAY_LOAD_SERVER "confserver"
#endif
#ifndef RELAY_LOAD_BARE
#define RELAY_LOAD_BARE "bare_relay"
#endif

namespace {

using Clock = std::chrono::steady_clock;
using load::Figures;
using load::PhaseResult;

constexpr double LOSSLESS_SHARE = 0.999;
constexpr int LISTENER_RECEIVE_BYTES = 8 << 20;
constexpr int REFRESH_SECONDS = 20; // control packets from every station at least this often
constexpr double CPU_SECONDS = 8;   // the fixed CPU load, on both targets at once

struct Options {
    int runs = 3;
    bool quick = false;
    std::string server = RELAY_LOAD_SERVER;
    std::string bare = RELAY_LOAD_BARE;
    double cpuRate = 1000;
    double cpuRateHigh = 4000;
    bool withServer = true;
    bool withBare = true;
    bool sweep = true;
};

enum Target { SERVER = 0, BARE = 1 };
const char* const TARGET_NAMES[] = {"confserver", "bare relay"};

// The search for the highest rate that passes: x1.5 up until a failure, then bisection.
struct Sweep {
    double low = 0;  // highest rate that passed
    double high = 0; // lowest rate that failed
    double rate = 1000;
    int steps = 0;
    bool done = false;
};

// One target under load: its process, its 26 stations and what was measured so far.
struct Session {
    Target which = SERVER;
    int run = 0;
    in_addr_t target = 0;
    load::Stations stations;
    load::TargetProcess process;
    std::string directory; // the server's configuration directory
    Figures figures;
    uint32_t phase = 0;
    Sweep sweep;
    bool ready = false;
    Clock::time_point refreshed;
    PhaseResult at12; // the totals of each load over its slices
    PhaseResult at50;
    PhaseResult cpu;
    PhaseResult cpuHigh;
};

// The address 127.60.b.d in network order.
in_addr_t address(int b, int d) {
    return htonl((127u << 24) | (60u << 16) | (static_cast<unsigned>(b) << 8) |
                 static_cast<unsigned>(d));
}

std::string dotted(in_addr_t a) {
    in_addr in{};
    in.s_addr = a;
    return inet_ntoa(in);
}

// The configuration file of a server run, in a fresh directory that also serves as its
// configuration home; returns the file's path ("" on failure).
std::string writeConfig(std::string& directory) {
    char pattern[] = "/tmp/relay_load.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return "";
    }
    directory = pattern;
    std::string path = directory + "/omvarc.ini";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return "";
    }
    // The directory entry points at an unused loopback address: the sign-off at SIGTERM is
    // refused at once.
    std::fputs("[callsign]\nuser=*BENCH*\ndesc=BENCH\nvalid=PW\n[server]\nver=618\nmaxusers=25\n"
               "1=127.60.255.254\n",
               f);
    std::fclose(f);
    return path;
}

void removeConfig(const std::string& directory) {
    if (directory.empty()) {
        return;
    }
    std::remove((directory + "/omvarc.ini").c_str());
    rmdir(directory.c_str());
}

double ticksToUs(long ticks) {
    static const double tick = 1e6 / static_cast<double>(sysconf(_SC_CLK_TCK));
    return static_cast<double>(ticks) * tick;
}

std::string loadAverage() {
    FILE* f = std::fopen("/proc/loadavg", "r");
    char text[64] = "?";
    if (f != nullptr) {
        if (std::fgets(text, sizeof text, f) == nullptr) {
            text[0] = '\0';
        }
        std::fclose(f);
    }
    std::string s = text;
    return s.substr(0, s.find(' ', s.find(' ', s.find(' ') + 1) + 1));
}

const char* label(const Session& s) {
    return TARGET_NAMES[s.which];
}

// Starts the session's target on its own address with its own 26 stations; for the server,
// joins the stations (one control packet each, then the first keep-alives).
void startSession(Session& s, Target which, int run, const Options& options) {
    s.which = which;
    s.run = run;
    const int k = run * 2 + static_cast<int>(which);
    s.target = address(10 + k, 1);
    if (!load::openStations(s.stations, address(100 + k, 1), LISTENER_RECEIVE_BYTES)) {
        return;
    }
    bool started = false;
    if (which == SERVER) {
        std::string config = writeConfig(s.directory);
        started =
            !config.empty() &&
            load::startTarget(
                s.process, {options.server, "-m", "--config", config, "--bind", dotted(s.target)},
                {"CONFSERVER_DESKTOP=relay-load-" + std::to_string(getpid()),
                 "XDG_CONFIG_HOME=" + s.directory},
                "cVARDE", 10000);
    } else {
        started = load::startTarget(s.process,
                                    {options.bare, "--bind", dotted(s.target), "--first-station",
                                     dotted(s.stations.first), "--stations",
                                     std::to_string(load::STATIONS)},
                                    {}, "READY", 10000);
    }
    if (!started) {
        std::fprintf(stderr, "relay_load: %s did not start\n", label(s));
        for (const std::string& line : s.process.lines) {
            std::fprintf(stderr, "  %s\n", line.c_str());
        }
        return;
    }
    s.ready = true;
    s.figures.readyMs = which == SERVER ? s.process.readyMs : -1;
    if (which == SERVER) {
        load::sendControlPackets(s.stations, s.target);
        s.refreshed = Clock::now();
        s.figures.joined = load::waitForControlReplies(s.stations, 3000, s.process);
    } else {
        s.figures.joined = load::STATIONS;
    }
    std::printf("  run %d %s on %s: %d/%d stations joined", run + 1, label(s),
                dotted(s.target).c_str(), s.figures.joined, load::STATIONS);
    if (which == SERVER) {
        std::printf(", \"cVARDE\" %.1f ms after the start", s.figures.readyMs);
    }
    std::printf("\n");
}

// A server's stations send their control packets again when the last ones are
// REFRESH_SECONDS old, as stations do, so that none reaches the inactivity limit in a run.
void refreshIfDue(Session& s) {
    if (s.which == SERVER && Clock::now() - s.refreshed > std::chrono::seconds(REFRESH_SECONDS)) {
        load::sendControlPackets(s.stations, s.target);
        s.refreshed = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// One load phase on the session's target alone.
PhaseResult phase(Session& s, double rate, double seconds, bool keepLatencies) {
    refreshIfDue(s);
    return load::runPhases({{&s.stations, s.target, &s.process, ++s.phase}}, rate, seconds,
                           keepLatencies)[0];
}

// One slice of a load, added to the totals of that load.
void slice(Session& s, PhaseResult& total, double rate, double seconds, bool keepLatencies) {
    total.add(phase(s, rate, seconds, keepLatencies));
}

// Prints a realistic load's totals and keeps its figures.
void reportRealistic(Session& s, const PhaseResult& r, double& share, double& p50, double& p99) {
    share = r.worstShare();
    p50 = r.latencyUs(0.50);
    p99 = r.latencyUs(0.99);
    std::printf("  run %d %s at %.1f/s: %u sent, worst listener %.3f%%, p50 %.0f us, p99 %.0f "
                "us, %u texts\n",
                s.run + 1, label(s), r.rate, r.sent, 100 * share, p50, p99, r.texts);
    if (r.received[load::TALKER] != 0) {
        std::printf("  run %d %s: the talker got %u of its own datagrams back\n", s.run + 1,
                    label(s), r.received[load::TALKER]);
    }
}

// Prints a fixed load's totals and keeps the CPU time per relayed datagram.
void reportCpu(Session& s, const PhaseResult& r, double& cpuUs) {
    if (r.targetCpuTicks >= 0 && r.sent > 0) {
        cpuUs = ticksToUs(r.targetCpuTicks) / r.sent;
    }
    std::printf("  run %d %s CPU at %.0f/s: %u sent, worst listener %.3f%%, %ld ticks, %.1f us "
                "per relayed datagram\n",
                s.run + 1, label(s), r.rate, r.sent, 100 * r.worstShare(), r.targetCpuTicks, cpuUs);
}

// A fixed load on every target at once, so that all meet the very same background.
void fixedLoad(const std::vector<Session*>& active, double rate, double seconds,
               PhaseResult Session::*total) {
    std::vector<load::PhaseTarget> all;
    for (Session* s : active) {
        refreshIfDue(*s);
        all.push_back({&s->stations, s->target, &s->process, ++s->phase});
    }
    std::vector<PhaseResult> results = load::runPhases(all, rate, seconds, false);
    for (size_t i = 0; i < active.size(); ++i) {
        active[i]->*total = results[i];
    }
}

// One step of the sweep, printed with what explains a failure: drops at the target's audio
// socket, drops in the listeners' queues, the server's flood-guard clears, the CPU used.
void sweepStep(Session& s, const Options& options) {
    Sweep& w = s.sweep;
    const double seconds = options.quick ? 1.0 : 2.0;
    const int maxSteps = options.quick ? 6 : 12;
    const long dropsBefore = load::udpSocketDrops(s.target, 5198);
    const size_t linesBefore = s.process.lines.size();
    PhaseResult r = phase(s, w.rate, seconds, false);
    const long dropsAfter = load::udpSocketDrops(s.target, 5198);
    const bool pass = r.worstShare() >= LOSSLESS_SHARE;
    int clears = 0; // status lines of the server's flood guard
    for (size_t i = linesBefore; i < s.process.lines.size(); ++i) {
        clears += s.process.lines[i].find("MSG QUEUE CLEARED") != std::string::npos ? 1 : 0;
    }
    std::printf("  run %d %s sweep %6.0f/s: worst listener %7.3f%%, input drops %ld, listener "
                "drops %u, flood-guard clears %d, CPU target %.2f s generator %.2f s: %s\n",
                s.run + 1, label(s), w.rate, 100.0 * r.worstShare(),
                dropsBefore >= 0 && dropsAfter >= 0 ? dropsAfter - dropsBefore : -1,
                r.listenerDrops, clears, ticksToUs(r.targetCpuTicks) / 1e6, r.ownCpuSeconds,
                pass ? "pass" : "FAIL");
    std::fflush(stdout);
    // Let the target's queue empty before the next step.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));

    if (pass) {
        w.low = w.rate;
    } else {
        w.high = w.rate;
    }
    ++w.steps;
    if ((w.low > 0 && w.high > 0 && w.high / w.low < 1.06) || w.steps >= maxSteps) {
        w.done = true;
    } else if (w.high == 0) {
        w.rate = std::min(w.rate * 1.5, 200000.0);
    } else if (w.low == 0) {
        w.rate = w.rate / 2;
        w.done = w.rate < 25;
    } else {
        w.rate = std::round((w.low + w.high) / 2);
    }
    if (w.done) {
        s.figures.lossless = w.low;
    }
}

// Measures memory, stops the target and frees the stations.
void endSession(Session& s) {
    if (s.ready) {
        s.figures.rssKiB = static_cast<double>(load::residentKiB(s.process.pid));
        std::printf("  run %d %s: highest lossless rate %.0f/s, VmRSS %.0f KiB\n", s.run + 1,
                    label(s), s.figures.lossless, s.figures.rssKiB);
    }
    if (s.process.pid > 0) {
        const int code = load::stopTarget(s.process, 15000);
        if (s.which == SERVER && code != 0) {
            std::printf("  run %d %s exit code %d\n", s.run + 1, label(s), code);
        }
    }
    load::closeStations(s.stations);
    removeConfig(s.directory);
}

// One run: both targets started, loaded in turns phase by phase, stopped.
void runBoth(int run, const Options& options, std::vector<Figures>& server,
             std::vector<Figures>& bare) {
    std::vector<Session> sessions(2);
    std::vector<Session*> active;
    if (options.withServer) {
        startSession(sessions[0], SERVER, run, options);
        active.push_back(&sessions[0]);
    }
    if (options.withBare) {
        startSession(sessions[1], BARE, run, options);
        active.push_back(&sessions[1]);
    }
    std::erase_if(active, [](const Session* s) { return !s->ready; });
    const double scale = options.quick ? 0.25 : 1.0;
    for (Session* s : active) { // warm-up: takes the talker lock, touches every path once
        phase(*s, 100, 0.3, false);
    }
    // The realistic loads in slices that alternate between the targets (one idles while the
    // other is measured), so that both meet the same background on the machine.
    for (int i = 0; i < 2; ++i) {
        for (Session* s : active) {
            slice(*s, s->at12, 12.5, 4 * scale, true);
        }
    }
    for (int i = 0; i < 3; ++i) {
        for (Session* s : active) {
            slice(*s, s->at50, 50, 2 * scale, true);
        }
    }
    fixedLoad(active, options.cpuRate, CPU_SECONDS * scale, &Session::cpu);
    fixedLoad(active, options.cpuRateHigh, CPU_SECONDS * scale, &Session::cpuHigh);
    for (Session* s : active) {
        Figures& f = s->figures;
        reportRealistic(*s, s->at12, f.share12, f.p50at12, f.p99at12);
        reportRealistic(*s, s->at50, f.share50, f.p50at50, f.p99at50);
        reportCpu(*s, s->cpu, f.cpuUs);
        reportCpu(*s, s->cpuHigh, f.cpuUsHigh);
    }
    std::fflush(stdout);
    for (bool more = options.sweep; more;) {
        more = false;
        for (Session* s : active) {
            if (!s->sweep.done) {
                sweepStep(*s, options);
                more = more || !s->sweep.done;
            }
        }
    }
    for (Session& s : sessions) {
        endSession(s);
    }
    if (options.withServer) {
        server.push_back(sessions[0].figures);
    }
    if (options.withBare) {
        bare.push_back(sessions[1].figures);
    }
    std::fflush(stdout);
}

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: relay_load [--runs N] [--quick] [--server PATH] [--bare PATH] "
                         "[--cpu-rate R] [--cpu-rate-high R] [--only server|bare] [--no-sweep]\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--quick") {
            o.quick = true;
            o.runs = 1;
        } else if (arg == "--no-sweep") {
            o.sweep = false;
        } else if (arg == "--runs" && hasValue) {
            o.runs = std::atoi(argv[++i]);
        } else if (arg == "--server" && hasValue) {
            o.server = argv[++i];
        } else if (arg == "--bare" && hasValue) {
            o.bare = argv[++i];
        } else if (arg == "--only" && hasValue) {
            const std::string which = argv[++i];
            o.withServer = which == "server";
            o.withBare = which == "bare";
            if (!o.withServer && !o.withBare) {
                usage();
            }
        } else if (arg == "--cpu-rate" && hasValue) {
            o.cpuRate = std::atof(argv[++i]);
        } else if (arg == "--cpu-rate-high" && hasValue) {
            o.cpuRateHigh = std::atof(argv[++i]);
        } else {
            usage();
        }
    }
    if (o.runs < 1 || o.runs > 9 || o.cpuRate < 1 || o.cpuRate > 100000 || o.cpuRateHigh < 1 ||
        o.cpuRateHigh > 100000) {
        usage();
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    const Options options = parse(argc, argv);
    std::vector<Figures> server;
    std::vector<Figures> bare;
    const Clock::time_point start = Clock::now();
    const std::string loadBefore = loadAverage();
    for (int run = 0; run < options.runs; ++run) {
        runBoth(run, options, server, bare);
    }
    load::printTable(server, bare, options.runs, options.cpuRate, options.cpuRateHigh);
    std::printf("\nLoad benchmark took %.0f s; load average (1, 5, 15 min) %s at the start, %s "
                "at the end.\n",
                std::chrono::duration<double>(Clock::now() - start).count(), loadBefore.c_str(),
                loadAverage().c_str());
    for (const Figures& f : server) {
        if (f.joined != load::STATIONS) {
            std::printf("Warning: a server run admitted %d of %d stations.\n", f.joined,
                        load::STATIONS);
        }
    }
    return 0;
}
