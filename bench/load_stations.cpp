#include "load_stations.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace load {

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t AUDIO_PORT = 5198;
constexpr uint16_t CONTROL_PORT = 5199;
constexpr uint32_t MAGIC = 0x52454C59;
constexpr int BATCH = 64;
constexpr size_t RECEIVE_SIZE = 640;   // more than a list text (516) or an audio datagram
constexpr int QUIET_MS = 250;          // after the last send: this long without audio ends it
constexpr int DRAIN_LIMIT_MS = 1500;   // after the last send: the phase ends at the latest
constexpr int RECEIVE_ROUND_US = 1000; // the listeners read their sockets this often
constexpr char TEXT_PREFIX[] = "oNDATA";

sockaddr_in socketAddress(in_addr_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return a;
}

in_addr_t stationAddress(const Stations& stations, int i) {
    return htonl(ntohl(stations.first) + static_cast<uint32_t>(i));
}

int boundSocket(in_addr_t address, uint16_t port) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_in local = socketAddress(address, port);
    if (s >= 0 && bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        close(s);
        s = -1;
    }
    return s;
}

int64_t realtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// CPU time of this process (every thread), in seconds.
double ownCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// The audio datagram: magic, phase, sequence and send time (realtime, ns), zeros after.
void fillDatagram(uint8_t* out, uint32_t phase, uint32_t sequence) {
    std::memset(out, 0, DATAGRAM_SIZE);
    int64_t now = realtimeNs();
    std::memcpy(out, &MAGIC, 4);
    std::memcpy(out + 4, &phase, 4);
    std::memcpy(out + 8, &sequence, 4);
    std::memcpy(out + 16, &now, 8);
}

// Sends count datagrams from the talker, the i-th at start + i / rate on the monotonic clock
// (at once when late); stores how long it took.
void sendLoad(int socket, in_addr_t target, double rate, uint32_t count, uint32_t phase,
              std::atomic<bool>* done, double* seconds) {
    const sockaddr_in to = socketAddress(target, AUDIO_PORT);
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int64_t startNs = static_cast<int64_t>(start.tv_sec) * 1000000000 + start.tv_nsec;
    uint8_t datagram[DATAGRAM_SIZE];
    for (uint32_t i = 0; i < count; ++i) {
        const int64_t due = startNs + static_cast<int64_t>(static_cast<double>(i) * 1e9 / rate);
        timespec at{static_cast<time_t>(due / 1000000000), static_cast<long>(due % 1000000000)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) == EINTR) {
        }
        fillDatagram(datagram, phase, i);
        sendto(socket, datagram, DATAGRAM_SIZE, 0, reinterpret_cast<const sockaddr*>(&to),
               sizeof to);
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    *seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
               static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
    done->store(true);
}

// Receive buffers and control space for one batch of recvmmsg.
struct Batch {
    uint8_t data[BATCH][RECEIVE_SIZE];
    alignas(cmsghdr) uint8_t control[BATCH][128];
    iovec iov[BATCH];
    mmsghdr msgs[BATCH];

    void reset() {
        for (int i = 0; i < BATCH; ++i) {
            iov[i] = iovec{data[i], RECEIVE_SIZE};
            msgs[i] = mmsghdr{};
            msgs[i].msg_hdr.msg_iov = &iov[i];
            msgs[i].msg_hdr.msg_iovlen = 1;
            msgs[i].msg_hdr.msg_control = control[i];
            msgs[i].msg_hdr.msg_controllen = sizeof control[i];
        }
    }
};

// Counts one received datagram of station i: audio of this phase, or a text; notes the
// kernel receive time's latency and the receive-queue drop counter.
void account(Stations& stations, PhaseResult& result, int i, const mmsghdr& m, const uint8_t* bytes,
             uint32_t phase, bool keepLatencies) {
    int64_t receivedNs = -1;
    for (cmsghdr* c = CMSG_FIRSTHDR(&m.msg_hdr); c != nullptr;
         c = CMSG_NXTHDR(const_cast<msghdr*>(&m.msg_hdr), c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_TIMESTAMPNS) {
            timespec t{};
            std::memcpy(&t, CMSG_DATA(c), sizeof t);
            receivedNs = static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
        } else if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SO_RXQ_OVFL) {
            uint32_t drops = 0;
            std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
            if (drops > stations.overflows[i]) {
                result.listenerDrops += drops - stations.overflows[i];
                stations.overflows[i] = drops;
            }
        }
    }
    const size_t length = m.msg_len;
    if (length >= 6 && std::memcmp(bytes, TEXT_PREFIX, 6) == 0) {
        ++result.texts;
        return;
    }
    uint32_t magic = 0;
    uint32_t datagramPhase = 0;
    if (length != DATAGRAM_SIZE) {
        return;
    }
    std::memcpy(&magic, bytes, 4);
    std::memcpy(&datagramPhase, bytes + 4, 4);
    if (magic != MAGIC || datagramPhase != phase) {
        return;
    }
    ++result.received[i];
    if (keepLatencies && receivedNs > 0) {
        int64_t sentNs = 0;
        std::memcpy(&sentNs, bytes + 16, 8);
        result.latencyNs.push_back(receivedNs - sentNs);
    }
}

// Reads every datagram waiting on station i's audio socket.
void receiveAll(Stations& stations, PhaseResult& result, int i, Batch& batch, uint32_t phase,
                bool keepLatencies) {
    for (;;) {
        batch.reset();
        int n = recvmmsg(stations.audio[i], batch.msgs, BATCH, MSG_DONTWAIT, nullptr);
        if (n <= 0) {
            return;
        }
        for (int k = 0; k < n; ++k) {
            account(stations, result, i, batch.msgs[k], batch.data[k], phase, keepLatencies);
        }
        if (n < BATCH) {
            return;
        }
    }
}

} // namespace

void PhaseResult::add(const PhaseResult& other) {
    rate = other.rate;
    sendSeconds += other.sendSeconds;
    sent += other.sent;
    for (int i = 0; i < STATIONS; ++i) {
        received[i] += other.received[i];
    }
    texts += other.texts;
    listenerDrops += other.listenerDrops;
    targetCpuTicks =
        targetCpuTicks < 0 || other.targetCpuTicks < 0 ? -1 : targetCpuTicks + other.targetCpuTicks;
    ownCpuSeconds += other.ownCpuSeconds;
    latencyNs.insert(latencyNs.end(), other.latencyNs.begin(), other.latencyNs.end());
}

double PhaseResult::worstShare() const {
    if (sent == 0) {
        return 1.0;
    }
    uint32_t worst = sent;
    for (int i = 0; i < STATIONS; ++i) {
        if (i != TALKER) {
            worst = std::min(worst, received[i]);
        }
    }
    return static_cast<double>(worst) / sent;
}

double PhaseResult::latencyUs(double quantile) const {
    if (latencyNs.empty()) {
        return -1;
    }
    std::vector<int64_t> sorted = latencyNs;
    size_t at = static_cast<size_t>(quantile * static_cast<double>(sorted.size() - 1) + 0.5);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<long>(at), sorted.end());
    return static_cast<double>(sorted[at]) / 1000.0;
}

bool openStations(Stations& stations, in_addr_t first, int receiveBytes) {
    stations.first = first;
    std::fill(std::begin(stations.audio), std::end(stations.audio), -1);
    std::fill(std::begin(stations.control), std::end(stations.control), -1);
    std::fill(std::begin(stations.overflows), std::end(stations.overflows), 0u);
    const int on = 1;
    for (int i = 0; i < STATIONS; ++i) {
        stations.audio[i] = boundSocket(stationAddress(stations, i), AUDIO_PORT);
        stations.control[i] = boundSocket(stationAddress(stations, i), CONTROL_PORT);
        if (stations.audio[i] < 0 || stations.control[i] < 0) {
            std::fprintf(stderr, "relay_load: cannot bind station %d: %s\n", i + 1,
                         std::strerror(errno));
            closeStations(stations);
            return false;
        }
        if (setsockopt(stations.audio[i], SOL_SOCKET, SO_RCVBUFFORCE, &receiveBytes,
                       sizeof receiveBytes) != 0) {
            setsockopt(stations.audio[i], SOL_SOCKET, SO_RCVBUF, &receiveBytes,
                       sizeof receiveBytes);
        }
        setsockopt(stations.audio[i], SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
        setsockopt(stations.audio[i], SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    }
    return true;
}

void closeStations(Stations& stations) {
    for (int i = 0; i < STATIONS; ++i) {
        if (stations.audio[i] >= 0) {
            close(stations.audio[i]);
        }
        if (stations.control[i] >= 0) {
            close(stations.control[i]);
        }
        stations.audio[i] = -1;
        stations.control[i] = -1;
    }
}

void joinPacket(int station, uint8_t packet[JOIN_PACKET_SIZE]) {
    char name[16];
    std::snprintf(name, sizeof name, "BENCH%02u", static_cast<unsigned>(station + 1) % 100u);
    const uint8_t ssrc = static_cast<uint8_t>(station + 1);
    // RR (8 bytes), then SDES: header, chunk SSRC, NAME item of 7 characters, end byte,
    // padding to a whole word: 4 + 4 + 9 + 1 + 2 = 20 bytes, length field 4.
    const uint8_t head[18] = {0xC0, 201, 0, 1, 0, 0, 0, ssrc, 0xC1, 202, 0, 4, 0, 0, 0, ssrc, 2, 7};
    std::memset(packet, 0, JOIN_PACKET_SIZE);
    std::memcpy(packet, head, sizeof head);
    std::memcpy(packet + sizeof head, name, 7);
}

void sendControlPackets(const Stations& stations, in_addr_t target) {
    const sockaddr_in to = socketAddress(target, CONTROL_PORT);
    for (int i = 0; i < STATIONS; ++i) {
        uint8_t packet[JOIN_PACKET_SIZE];
        joinPacket(i, packet);
        sendto(stations.control[i], packet, sizeof packet, 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
}

int waitForControlReplies(const Stations& stations, int timeoutMs, TargetProcess& target) {
    bool replied[STATIONS] = {};
    int count = 0;
    const Clock::time_point start = Clock::now();
    while (count < STATIONS && msSince(start) < timeoutMs) {
        for (int i = 0; i < STATIONS; ++i) {
            uint8_t buffer[RECEIVE_SIZE];
            while (recv(stations.control[i], buffer, sizeof buffer, MSG_DONTWAIT) > 0) {
                if (!replied[i]) {
                    replied[i] = true;
                    ++count;
                }
            }
        }
        drainOutput(target);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return count;
}

std::vector<PhaseResult> runPhases(const std::vector<PhaseTarget>& targets, double rate,
                                   double seconds, bool keepLatencies) {
    const size_t sets = targets.size();
    std::vector<PhaseResult> results(sets);
    const uint32_t count = static_cast<uint32_t>(rate * seconds + 0.5);
    for (size_t t = 0; t < sets; ++t) {
        results[t].rate = rate;
        results[t].sent = count;
        if (keepLatencies) {
            results[t].latencyNs.reserve(static_cast<size_t>(count) * (STATIONS - 1));
        }
    }
    static Batch batch;
    std::vector<long> cpuBefore(sets);
    for (size_t t = 0; t < sets; ++t) {
        cpuBefore[t] = cpuTicks(targets[t].process->pid);
    }
    const double ownBefore = ownCpuSeconds();
    std::vector<std::atomic<bool>> done(sets);
    std::vector<std::thread> senders;
    for (size_t t = 0; t < sets; ++t) {
        done[t] = false;
        senders.emplace_back(sendLoad, targets[t].stations->audio[TALKER], targets[t].target, rate,
                             count, targets[t].phase, &done[t], &results[t].sendSeconds);
    }

    Clock::time_point lastAudio = Clock::now();
    Clock::time_point sendEnd{};
    bool ended = false;
    for (int round = 0;; ++round) {
        // Nobody waits on the listener sockets: each round sleeps, then reads every socket
        // without blocking. The targets' sends then never pay for waking this thread (on
        // loopback the sender does the receiver's wake-up), so their CPU time is their own;
        // the latency comes from the kernel's receive time stamps, not from this loop.
        std::this_thread::sleep_for(std::chrono::microseconds(RECEIVE_ROUND_US));
        for (size_t t = 0; t < sets; ++t) {
            for (int i = 0; i < STATIONS; ++i) {
                const uint32_t before = results[t].received[i];
                receiveAll(*targets[t].stations, results[t], i, batch, targets[t].phase,
                           keepLatencies);
                if (results[t].received[i] != before) {
                    lastAudio = Clock::now();
                }
            }
        }
        if (round % 16 != 0 && !ended) {
            continue;
        }
        bool allDone = true;
        for (size_t t = 0; t < sets; ++t) {
            drainOutput(*targets[t].process);
            allDone = allDone && done[t].load();
        }
        if (!ended && allDone) {
            ended = true;
            sendEnd = Clock::now();
        }
        if (!ended) {
            continue;
        }
        bool complete = true;
        for (size_t t = 0; t < sets; ++t) {
            for (int i = 0; i < STATIONS; ++i) {
                complete = complete && (i == TALKER || results[t].received[i] >= count);
            }
        }
        if (complete || msSince(sendEnd) > DRAIN_LIMIT_MS ||
            (msSince(sendEnd) > QUIET_MS && msSince(lastAudio) > QUIET_MS)) {
            break;
        }
    }
    for (std::thread& sender : senders) {
        sender.join();
    }
    const double own = ownCpuSeconds() - ownBefore;
    for (size_t t = 0; t < sets; ++t) {
        const long cpuAfter = cpuTicks(targets[t].process->pid);
        results[t].ownCpuSeconds = own;
        results[t].targetCpuTicks =
            cpuBefore[t] >= 0 && cpuAfter >= 0 ? cpuAfter - cpuBefore[t] : -1;
    }
    return results;
}

} // namespace load
