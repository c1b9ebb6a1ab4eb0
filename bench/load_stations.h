// The 26 stations that the load generator plays: one talker and 25 listeners, each an address
// with its audio (5198) and control (5199) sockets; the join, and one load phase: the talker
// sends at a given rate while every listener counts what arrives and how late.
#pragma once

#include "load_target.h"

#include <cstdint>
#include <netinet/in.h>
#include <vector>

namespace load {

constexpr int STATIONS = 26;
constexpr int TALKER = 0;
constexpr size_t DATAGRAM_SIZE = 144; // above the talker-lock threshold of 102 bytes

struct Stations {
    in_addr_t first = 0; // network order; station i is first + i
    int audio[STATIONS];
    int control[STATIONS];
    uint32_t overflows[STATIONS]; // receive-queue drops last reported for each audio socket
};

// Binds every station's two sockets (listener receive buffers of receiveBytes, forced past
// the system limit when allowed). False, with every socket closed, when one cannot be bound.
bool openStations(Stations& stations, in_addr_t first, int receiveBytes);
void closeStations(Stations& stations);

constexpr size_t JOIN_PACKET_SIZE = 28;

// The compound that station (0 to 25) joins with: an empty receiver report and an SDES
// packet with the NAME "BENCHnn" (nn the station number from 01).
void joinPacket(int station, uint8_t packet[JOIN_PACKET_SIZE]);

// Sends each station's join compound from its control port to the target's.
void sendControlPackets(const Stations& stations, in_addr_t target);

// Waits up to timeoutMs until every station has received a datagram on its control port
// (the keep-alive that admission starts); returns how many did.
int waitForControlReplies(const Stations& stations, int timeoutMs, TargetProcess& target);

struct PhaseResult {
    double rate = 0;                  // datagrams per second asked for
    double sendSeconds = 0;           // how long the talker took to send them
    uint32_t sent = 0;                // datagrams the talker sent
    uint32_t received[STATIONS] = {}; // audio datagrams of this phase, per station
    uint32_t texts = 0;               // text datagrams ("oNDATA") to any station
    uint32_t listenerDrops = 0;       // datagrams lost in the listeners' own receive queues
    long targetCpuTicks = 0;          // target CPU time (user + system) during the phase
    double ownCpuSeconds = 0;         // this process's CPU time (both threads) during the phase
    std::vector<int64_t> latencyNs;   // receive time minus send time, every listener copy

    // Adds another phase's counts, CPU ticks and latencies to these.
    void add(const PhaseResult& other);
    // Smallest delivered share over the listeners (1.0 when everything arrived).
    double worstShare() const;
    // The given quantile (0 to 1) of the latencies in microseconds; -1 when none.
    double latencyUs(double quantile) const;
};

// One target of a load phase: its stations, its address, its process and the phase number
// written into the datagrams.
struct PhaseTarget {
    Stations* stations;
    in_addr_t target;
    TargetProcess* process;
    uint32_t phase;
};

// One load phase on one or more targets at once: each target's talker sends rate datagrams
// per second for the given seconds (one sender thread per target), each carrying the phase,
// a sequence number and its send time. One loop reads the listeners of all targets every
// millisecond without waiting on their sockets (so that no target pays for waking it) and
// ends when everything arrived or the audio stays quiet for a moment after the last send.
// Latencies (from the kernel's receive time stamps) are kept when asked. One result per
// target, in order.
std::vector<PhaseResult> runPhases(const std::vector<PhaseTarget>& targets, double rate,
                                   double seconds, bool keepLatencies);

} // namespace load
