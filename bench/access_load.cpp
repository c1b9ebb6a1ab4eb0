// The access file at a million rules: how long one step of a load from the pump takes at
// most (the relay waits for no longer), how many steps a load takes, and what a verdict
// costs with ten rules and with a million. A file is made in a temporary directory.
//
//   access_load [RULES]
#include "access/access_load.h"
#include "access/access_rules.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <random>
#include <string>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Milliseconds of this thread's processor time: what a step costs whatever else the
// machine runs.
double cpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// A file of count rules: address /32s and /24s, exact callsigns and wildcards, mixed.
std::string writeRules(const std::string& path, int count) {
    FILE* f = std::fopen(path.c_str(), "w");
    for (int i = 0; i < count; ++i) {
        switch (i % 4) {
        case 0:
        case 1:
            std::fprintf(f, "deny 10.%d.%d.%d\n", i >> 16 & 255, i >> 8 & 255, i & 255);
            break;
        case 2:
            std::fprintf(f, "deny 11.%d.%d.0/24\n", i >> 16 & 255, i >> 8 & 255);
            break;
        default:
            std::fprintf(f, i % 8 == 3 ? "deny N%dCALL\n" : "allow G%d*\n", i);
        }
    }
    std::fclose(f);
    return path;
}

// Loads path in steps as the server does; prints the steps and the longest one.
bool load(const char* path, AccessRuleSet* set) {
    AccessLoad l;
    char why[160] = "";
    if (accessLoadBegin(&l, path, set, nullptr, nullptr, why, sizeof why) != AccessReadResult::Ok) {
        std::fprintf(stderr, "cannot read %s: %s\n", path, why);
        return false;
    }
    int steps = 0;
    double longest = 0;
    double longestCpu = 0;
    double cpuBegin = cpuMs();
    auto begin = Clock::now();
    AccessLoadStep step = AccessLoadStep::More;
    while (step == AccessLoadStep::More) {
        auto start = Clock::now();
        double cpuStart = cpuMs();
        step = accessLoadStep(&l, ACCESS_STEP_BYTES, why, sizeof why);
        longestCpu = std::max(longestCpu, cpuMs() - cpuStart);
        longest = std::max(longest, msSince(start));
        ++steps;
    }
    std::printf("load: %d rules in %d steps, %.1f ms in all (%.1f ms processor time), longest "
                "step %.2f ms (%.2f ms processor time)\n",
                set->count, steps, msSince(begin), cpuMs() - cpuBegin, longest, longestCpu);
    return step == AccessLoadStep::Done;
}

// Nanoseconds per verdict over n random addresses and n names.
void verdicts(const char* label, const AccessRuleSet* set) {
    constexpr int N = 1000000;
    std::mt19937 random(7);
    int denied = 0;
    auto start = Clock::now();
    for (int i = 0; i < N; ++i) {
        uint32_t address = htonl(0x0A000000u | (random() & 0x1FFFFFu));
        denied += accessJudgeAddress(set, address).allowed ? 0 : 1;
    }
    double addressNs = msSince(start) * 1e6 / N;
    char name[24];
    start = Clock::now();
    for (int i = 0; i < N; ++i) {
        std::snprintf(name, sizeof name, "N%uCALL", static_cast<unsigned>(random() % 2000000));
        denied += accessJudgeName(set, name).allowed ? 0 : 1;
    }
    double nameNs = msSince(start) * 1e6 / N;
    std::printf("%s: %.0f ns an address, %.0f ns a callsign (%d denied)\n", label, addressNs,
                nameNs, denied);
}

} // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::atoi(argv[1]) : ACCESS_MAX_RULES;
    char dir[] = "/tmp/access_load.XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        return 1;
    }
    std::string small = writeRules(std::string(dir) + "/small.access", 10);
    std::string large = writeRules(std::string(dir) + "/large.access", count);
    static AccessRuleSet smallSet;
    static AccessRuleSet largeSet;
    bool ok = load(small.c_str(), &smallSet) && load(large.c_str(), &largeSet);
    if (ok) {
        verdicts("10 rules", &smallSet);
        verdicts("large", &largeSet);
    }
    unlink(small.c_str());
    unlink(large.c_str());
    rmdir(dir);
    return ok ? 0 : 1;
}
