// relay_count: relays a given number of datagrams through the server or the bare relay, one
// at a time, for the counted figures (instructions, system calls, allocations per relayed
// datagram). The target runs under the given wrapper command (callgrind, an allocation
// counter) or is attached to after the join (strace), so the counts cover its work; each
// datagram is sent only once the one before has reached all 25 listeners, so every datagram
// is relayed alone, on the path of a steady conference, and the flood guard never runs; a
// gap (--gap-us, default 5 ms) after each one lets the target go back to waiting first.
//
//   relay_count --target server|bare --datagrams N [--binary PATH] [--base B]
//               [--gap-us U] [--attach-strace FILE] [--] [WRAPPER ARGS...]
//
// Prints "relayed R of N" and the target's resident memory at the end, and exits 0 when all N
// reached every listener. --base picks the loopback block 127.61.B.0 (several counts can run side
// by side on different blocks).
#include "load_stations.h"
#include "load_target.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
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

constexpr int DELIVERY_TIMEOUT_MS = 3000; // per datagram, generous for a wrapped target
constexpr int START_TIMEOUT_MS = 60000;   // a target under callgrind starts slowly
constexpr uint16_t AUDIO_PORT = 5198;

struct Options {
    bool server = true;
    long datagrams = 100;
    std::string binary;
    int base = 1;
    std::string straceFile;
    int gapUs = 5000;
    std::vector<std::string> wrapper;
};

[[noreturn]] void usage() {
    std::fprintf(stderr, "usage: relay_count --target server|bare --datagrams N [--binary PATH] "
                         "[--base B] [--gap-us U] [--attach-strace FILE] [--] [WRAPPER ARGS...]\n");
    std::exit(2);
}

Options parse(int argc, char** argv) {
    Options o;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--") {
            ++i;
            break;
        }
        if (arg == "--target" && hasValue) {
            const std::string which = argv[++i];
            if (which != "server" && which != "bare") {
                usage();
            }
            o.server = which == "server";
        } else if (arg == "--datagrams" && hasValue) {
            o.datagrams = std::atol(argv[++i]);
        } else if (arg == "--binary" && hasValue) {
            o.binary = argv[++i];
        } else if (arg == "--base" && hasValue) {
            o.base = std::atoi(argv[++i]);
        } else if (arg == "--gap-us" && hasValue) {
            o.gapUs = std::atoi(argv[++i]);
        } else if (arg == "--attach-strace" && hasValue) {
            o.straceFile = argv[++i];
        } else if (arg.rfind("--", 0) == 0) {
            usage();
        } else {
            break;
        }
    }
    for (; i < argc; ++i) {
        o.wrapper.emplace_back(argv[i]);
    }
    if (o.datagrams < 0 || o.datagrams > 1000000 || o.base < 1 || o.base > 99 || o.gapUs < 0 ||
        o.gapUs > 1000000) {
        usage();
    }
    if (o.binary.empty()) {
        o.binary = o.server ? RELAY_LOAD_SERVER : RELAY_LOAD_BARE;
    }
    return o;
}

in_addr_t address(int b, int d) {
    return htonl((127u << 24) | (61u << 16) | (static_cast<unsigned>(b) << 8) |
                 static_cast<unsigned>(d));
}

std::string dotted(in_addr_t a) {
    in_addr in{};
    in.s_addr = a;
    return inet_ntoa(in);
}

// A fresh configuration directory with the server's file (and RELAY_COUNT_CONFIG_EXTRA at its
// end, when set); "" on failure.
std::string writeConfig(std::string& directory) {
    char pattern[] = "/tmp/relay_count.XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        return "";
    }
    directory = pattern;
    const std::string path = directory + "/omvarc.ini";
    FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        return "";
    }
    std::fputs("[callsign]\nuser=*BENCH*\ndesc=BENCH\nvalid=PW\n[server]\nver=618\nmaxusers=25\n"
               "1=127.61.255.254\n",
               f);
    // More of the file (a [limits] section, say) for counting what a setting costs.
    if (const char* extra = std::getenv("RELAY_COUNT_CONFIG_EXTRA")) {
        std::fputs(extra, f);
    }
    std::fclose(f);
    return path;
}

// True when the datagram is audio (not a station list text).
bool isAudio(const uint8_t* bytes, ssize_t n) {
    return n > 0 && !(n >= 6 && std::memcmp(bytes, "oNDATA", 6) == 0);
}

// Sends one datagram from the talker and waits until every listener has its copy.
bool relayOne(const load::Stations& st, in_addr_t target, uint32_t sequence) {
    uint8_t datagram[load::DATAGRAM_SIZE] = {};
    std::memcpy(datagram, &sequence, sizeof sequence);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(AUDIO_PORT);
    to.sin_addr.s_addr = target;
    if (sendto(st.audio[load::TALKER], datagram, sizeof datagram, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
        return false;
    }
    bool got[load::STATIONS] = {};
    int missing = load::STATIONS - 1;
    const Clock::time_point deadline =
        Clock::now() + std::chrono::milliseconds(DELIVERY_TIMEOUT_MS);
    while (missing > 0 && Clock::now() < deadline) {
        pollfd fds[load::STATIONS];
        for (int i = 0; i < load::STATIONS; ++i) {
            fds[i] = pollfd{st.audio[i], POLLIN, 0};
        }
        if (poll(fds, load::STATIONS, 100) <= 0) {
            continue;
        }
        for (int i = 0; i < load::STATIONS; ++i) {
            uint8_t bytes[4096];
            ssize_t n;
            while ((n = recv(st.audio[i], bytes, sizeof bytes, 0)) >= 0) {
                if (i != load::TALKER && !got[i] && isAudio(bytes, n) &&
                    std::memcmp(bytes, &sequence, sizeof sequence) == 0) {
                    got[i] = true;
                    --missing;
                }
            }
        }
    }
    return missing == 0;
}

// Attaches strace -c to pid, its summary to file; waits until the trace holds.
pid_t attachStrace(pid_t pid, const std::string& file) {
    const pid_t tracer = fork();
    if (tracer == 0) {
        const std::string p = std::to_string(pid);
        const char* mode = std::getenv("RELAY_COUNT_STRACE_FULL") != nullptr ? "-tt" : "-c";
        execlp("strace", "strace", mode, "-f", "-o", file.c_str(), "-p", p.c_str(),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (tracer > 0 && Clock::now() < deadline) {
        FILE* f = std::fopen(("/proc/" + std::to_string(pid) + "/status").c_str(), "r");
        char line[256];
        long tracerPid = 0;
        while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
            if (std::sscanf(line, "TracerPid: %ld", &tracerPid) == 1) {
                break;
            }
        }
        if (f != nullptr) {
            std::fclose(f);
        }
        if (tracerPid == tracer) {
            // strace attaches to the process and then its threads; a moment for the rest.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            return tracer;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

// Ends the trace (strace prints its summary when interrupted) and waits for it, bounded.
void detachStrace(pid_t tracer) {
    kill(tracer, SIGINT);
    for (int i = 0; i < 500; ++i) {
        if (waitpid(tracer, nullptr, WNOHANG) == tracer) {
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(tracer, SIGKILL);
    waitpid(tracer, nullptr, 0);
}

} // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    load::Stations stations{};
    const in_addr_t target = address(o.base, 1);
    if (!load::openStations(stations, address(o.base, 100), 1 << 20)) {
        std::fprintf(stderr, "relay_count: cannot bind the stations\n");
        return 1;
    }
    std::vector<std::string> argvList = o.wrapper;
    std::string directory;
    std::vector<std::string> env;
    if (o.server) {
        const std::string config = writeConfig(directory);
        for (const std::string& a : {o.binary, std::string("-m"), std::string("--config"), config,
                                     std::string("--bind"), dotted(target)}) {
            argvList.push_back(a);
        }
        env = {"CONFSERVER_DESKTOP=relay-count-" + std::to_string(getpid()),
               "XDG_CONFIG_HOME=" + directory};
    } else {
        for (const std::string& a :
             {o.binary, std::string("--bind"), dotted(target), std::string("--first-station"),
              dotted(stations.first), std::string("--stations"), std::to_string(load::STATIONS)}) {
            argvList.push_back(a);
        }
    }
    load::TargetProcess process;
    if (!load::startTarget(process, argvList, env, o.server ? "cVARDE" : "READY",
                           START_TIMEOUT_MS)) {
        std::fprintf(stderr, "relay_count: the target did not start\n");
        load::stopTarget(process, 5000);
        load::closeStations(stations);
        return 1;
    }
    if (o.server) {
        load::sendControlPackets(stations, target);
        const int joined = load::waitForControlReplies(stations, 20000, process);
        if (joined != load::STATIONS) {
            std::fprintf(stderr, "relay_count: %d of %d stations joined\n", joined, load::STATIONS);
        }
    }
    // One datagram first: it takes the talker lock and touches every path once.
    relayOne(stations, target, 0xFFFFFFFFu);
    pid_t tracer = -1;
    if (!o.straceFile.empty()) {
        tracer = attachStrace(process.pid, o.straceFile);
        if (tracer < 0) {
            std::fprintf(stderr, "relay_count: strace did not attach\n");
        }
    }
    long relayed = 0;
    for (long i = 0; i < o.datagrams; ++i) {
        relayed += relayOne(stations, target, static_cast<uint32_t>(i)) ? 1 : 0;
        load::drainOutput(process);
        std::this_thread::sleep_for(std::chrono::microseconds(o.gapUs));
    }
    if (tracer > 0) {
        detachStrace(tracer);
    }
    const long rss = load::residentKiB(process.pid);
    load::stopTarget(process, 30000);
    load::closeStations(stations);
    if (!directory.empty()) {
        std::remove((directory + "/omvarc.ini").c_str());
        rmdir(directory.c_str());
    }
    std::printf("relayed %ld of %ld, VmRSS %ld KiB\n", relayed, o.datagrams, rss);
    return relayed == o.datagrams ? 0 : 1;
}
