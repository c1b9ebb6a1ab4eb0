#include "load_report.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace load {

namespace {

// Median over the runs of one figure.
double medianOf(const std::vector<Figures>& runs, double Figures::*field) {
    std::vector<double> values;
    for (const Figures& f : runs) {
        values.push_back(f.*field);
    }
    return median(values);
}

// The value with the given number of decimals, or "-" for a missing one.
std::string number(double v, int decimals) {
    if (v < 0) {
        return "-";
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string ratio(double server, double bare) {
    return server >= 0 && bare > 0 ? number(server / bare, 2) : "-";
}

void row(const char* name, double server, double bare, int decimals, const char* target = "",
         const char* met = "") {
    std::printf("| %s | %s | %s | %s | %s | %s |\n", name, number(server, decimals).c_str(),
                number(bare, decimals).c_str(), ratio(server, bare).c_str(), target, met);
}

// One line with the ratio server/bare of a figure in each run.
void perRunRatios(const char* name, const std::vector<Figures>& server,
                  const std::vector<Figures>& bare, double Figures::*field) {
    std::printf("%s", name);
    for (size_t i = 0; i < server.size(); ++i) {
        std::printf(" %s", ratio(server[i].*field, bare[i].*field).c_str());
    }
    std::printf("\n");
}

const char* yesNo(bool ok) {
    return ok ? "yes" : "**no**";
}

// The row of the CPU time per relayed datagram at one fixed load.
void cpuRow(double server, double bare, double rate) {
    char name[96];
    std::snprintf(name, sizeof name, "CPU per relayed datagram at %.0f/s (us)", rate);
    row(name, server, bare, 1, "<= 1.05 x bare",
        yesNo(server >= 0 && bare > 0 && server <= 1.05 * bare));
}

// A share (0 to 1) as a percentage, keeping "missing" negative.
double percent(double share) {
    return share < 0 ? -1 : 100 * share;
}

} // namespace

double median(std::vector<double> values) {
    values.erase(std::remove_if(values.begin(), values.end(), [](double v) { return v < 0; }),
                 values.end());
    if (values.empty()) {
        return -1;
    }
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

void printTable(const std::vector<Figures>& server, const std::vector<Figures>& bare, int runs,
                double cpuRate, double cpuRateHigh) {
    auto s = [&](double Figures::*field) { return medianOf(server, field); };
    auto b = [&](double Figures::*field) { return medianOf(bare, field); };
    std::printf("\n### Relay load: medians of %d run%s, 25 listeners and 1 talker, 144-byte "
                "datagrams\n\n",
                runs, runs == 1 ? "" : "s");
    std::printf("| Figure | confserver | bare relay | server/bare | Target | Met |\n");
    std::printf("|---|---:|---:|---:|---|---|\n");
    row("Delivered at 12.5/s, worst listener (%)", percent(s(&Figures::share12)),
        percent(b(&Figures::share12)), 2);
    row("Added latency p50 at 12.5/s (us)", s(&Figures::p50at12), b(&Figures::p50at12), 0);
    row("Added latency p99 at 12.5/s (us)", s(&Figures::p99at12), b(&Figures::p99at12), 0);
    row("Delivered at 50/s, worst listener (%)", percent(s(&Figures::share50)),
        percent(b(&Figures::share50)), 2);
    row("Added latency p50 at 50/s (us)", s(&Figures::p50at50), b(&Figures::p50at50), 0);
    const double p99s = s(&Figures::p99at50);
    const double p99b = b(&Figures::p99at50);
    row("Added latency p99 at 50/s (us)", p99s, p99b, 0, "<= 2 x bare",
        yesNo(p99s >= 0 && p99b > 0 && p99s <= 2 * p99b));
    const double ls = s(&Figures::lossless);
    const double lb = b(&Figures::lossless);
    row("Highest rate with >= 99.9% to every listener (datagrams/s)", ls, lb, 0, ">= 0.6 x bare",
        yesNo(ls >= 0 && lb > 0 && ls >= 0.6 * lb));
    cpuRow(s(&Figures::cpuUs), b(&Figures::cpuUs), cpuRate);
    cpuRow(s(&Figures::cpuUsHigh), b(&Figures::cpuUsHigh), cpuRateHigh);
    const double rs = s(&Figures::rssKiB);
    row("Resident memory with 26 stations (KiB)", rs, b(&Figures::rssKiB), 0, "< 4 MiB",
        yesNo(rs >= 0 && rs < 4096));
    const double ready = s(&Figures::readyMs);
    std::printf("| Start to \"cVARDE\" (ms) | %s | - | - | < 100 ms | %s |\n",
                number(ready, 1).c_str(), yesNo(ready >= 0 && ready < 100));
    if (server.size() == bare.size() && server.size() > 1) {
        std::printf("\nPer-run ratios server/bare (run 1, 2, ...):\n");
        perRunRatios("  p99 added latency at 50/s:", server, bare, &Figures::p99at50);
        perRunRatios("  highest lossless rate:    ", server, bare, &Figures::lossless);
        perRunRatios("  CPU per relayed datagram: ", server, bare, &Figures::cpuUs);
        perRunRatios("  the same at the high load:", server, bare, &Figures::cpuUsHigh);
    }
}

} // namespace load
