// The figures of the load benchmark and the markdown table of their medians.
#pragma once

#include <vector>

namespace load {

// What one run measured on one target; -1 where nothing was measured.
struct Figures {
    int joined = 0;
    double share12 = -1, p50at12 = -1, p99at12 = -1;
    double share50 = -1, p50at50 = -1, p99at50 = -1;
    double cpuUs = -1;     // CPU time per relayed datagram at the moderate fixed load
    double cpuUsHigh = -1; // the same at the high fixed load
    double lossless = -1;
    double rssKiB = -1;
    double readyMs = -1;
};

// The median of the values that are not negative; -1 when there is none.
double median(std::vector<double> values);

// Prints the table: per figure the medians over the runs of the server and the bare relay,
// the ratio server/bare, and for the figures with a target whether it is met.
void printTable(const std::vector<Figures>& server, const std::vector<Figures>& bare, int runs,
                double cpuRate, double cpuRateHigh);

} // namespace load
