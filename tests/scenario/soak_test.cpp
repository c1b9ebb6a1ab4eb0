// Soak: 26 stations joining, talking, falling silent until they time out, saying BYE and
// being refused, second by second on the manual clock, against a model of what the server
// must do. After every step the server's station windows are exactly the model's stations
// and stationCount equals the windows; what each station received (relayed audio, keep-
// alives, busy texts, BYE compounds) is counted and compared with the model; allocated
// memory is sampled once a simulated minute and must stay flat.
//
// ctest runs SOAK_MINUTES_DEFAULT simulated minutes. The long run sets the minutes in the
// environment: CONFSERVER_SOAK_MINUTES=10 (see .ci/soak, which runs it under the
// sanitizers). Server 127.70.3.1, stations 127.70.4.N.
#include "audio/relay.h"
#include "base/app_state.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "support/server_harness.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <malloc.h>
#include <memory>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#ifdef SOAK_ASAN
// The sanitizer allocator's count of bytes in use (its runtime provides it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using testutil::ServerHarness;
using testutil::TestStation;

namespace {

constexpr int SOAK_MINUTES_DEFAULT = 3;
constexpr int POOL = 40;       // addresses that take part; at most 26 are connected
constexpr int CAPACITY = 25;   // so 26 stations can be connected
constexpr int TALK_BURST = 12; // long datagrams a talker sends per second
constexpr size_t LONG_SIZE = 144;
constexpr size_t SHORT_SIZE = 40;
constexpr size_t MEMORY_GROWTH_LIMIT = 128 * 1024;

const std::string SERVER = "127.70.3.1";
const std::string UNKNOWN = "127.70.4.250";
const char* const CONFIG = "[callsign]\nuser=*SOAK*\ndesc=SOAK\nvalid=PW\n[server]\n"
                           "1=127.70.3.1\nver=618\nmaxusers=25\n";

// The keep-alive compound for NAME "*SOAK*" and the refusal's BYE compound, byte for byte.
// clang-format off
const std::vector<uint8_t> KEEPALIVE_SOAK = {
    0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xE1, 0xCA, 0x00, 0x0C, 0, 0, 0, 0,
    1, 8, 'C', 'A', 'L', 'L', 'S', 'I', 'G', 'N', 2, 6, '*', 'S', 'O', 'A', 'K', '*',
    3, 8, 'C', 'A', 'L', 'L', 'S', 'I', 'G', 'N', 4, 5, '0', '8', ':', '3', '0',
    0, 0, 0, 0, 0, 0, 0, 0, 0x04};
const std::vector<uint8_t> BYE_TERM = {
    0xC0, 0xC9, 0x00, 0x01, 0, 0, 0, 0, 0xE1, 0xCB, 0x00, 0x04, 0, 0, 0, 0,
    4, 'T', 'e', 'r', 'm', 0, 0, 0, 0, 0, 0, 4};
// clang-format on
const std::string BUSY_TEXT("oNDATA***SERVER BUSY - TRY LATER***\r\r\0", 38);

int soakMinutes() {
    const char* text = std::getenv("CONFSERVER_SOAK_MINUTES");
    int minutes = text != nullptr ? std::atoi(text) : SOAK_MINUTES_DEFAULT;
    return minutes < 1 ? 1 : (minutes > 120 ? 120 : minutes);
}

// Bytes in use on the heap: the sanitizer allocator's count, else the C library's.
size_t heapInUse() {
#ifdef SOAK_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

size_t residentKiB() {
    long pages = 0;
    long resident = 0;
    FILE* f = std::fopen("/proc/self/statm", "r");
    if (f != nullptr) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) {
            resident = 0;
        }
        std::fclose(f);
    }
    return static_cast<size_t>(resident) * 4;
}

bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

// Dispatches until the server has taken every datagram sent to it and has nothing left
// to do. Bounded.
void settle() {
    for (int round = 0; round < 100000; ++round) {
        if (platformDispatchPending(100000) == 0 && !readable(audioPortSocket, 0) &&
            !readable(controlPortSocket, 0)) {
            return;
        }
    }
    ADD_FAILURE() << "the server did not settle";
}

// What the server must know of one address, and what that address must have received.
struct Expected {
    bool present = false;
    int idleTicks = 0;
    int keepAliveTicks = 0;
    long relayed = 0;
    long keepAlives = 0;
    long busy = 0;
    long byes = 0;
    int refusedAt = -1000; // tick of the last refusal it was told
};

// What the test plays for one address.
struct Plan {
    int lifeEnd = 0; // tick at which the station stops being chatty
    bool leavesByBye = false;
    int nextKeepAlive = 0; // tick of its next receiver report
    bool silent = false;   // sends nothing until it is gone
};

struct Observed {
    long relayed = 0;
    long keepAlives = 0;
    long busy = 0;
    long byes = 0;
};

struct Datagram {
    int from; // station index, or -1 for the stranger
    size_t size;
};

struct Figures {
    long joinsSent = 0, admitted = 0, refused = 0, heldOff = 0, byeCloses = 0, timeouts = 0;
    long relayed = 0, firewalled = 0, unregistered = 0, queueClears = 0, thrownAway = 0;
    long keepAlives = 0, maxConnected = 0;
};

class Soak {
  public:
    Soak() : server_(SERVER, CONFIG), rng_(20261209) {}

    bool start() {
        if (!server_.start()) {
            return false;
        }
        for (int i = 0; i < POOL; ++i) {
            stations_.push_back(std::make_unique<TestStation>("127.70.4." + std::to_string(i + 1)));
        }
        unknown_ = std::make_unique<TestStation>(UNKNOWN);
        model_.resize(POOL);
        batch_.reserve(4 * POOL);
        plans_.resize(POOL);
        observed_.resize(POOL);
        return true;
    }

    // One simulated second: what the stations send, then the tick.
    void second() {
        ++now_;
        controlPackets();
        checkWindows("after the control packets");
        audio();
        checkWindows("after the audio");
        platformAdvanceClock(500);
        settle();
        platformAdvanceClock(500);
        settle();
        tickModel();
        checkWindows("after the tick");
        collect(false);
    }

    // Everything received so far must now be exactly what the model expects.
    void checkCounts() {
        collect(true);
        for (int i = 0; i < POOL; ++i) {
            const Expected& e = model_[i];
            const Observed& o = observed_[i];
            EXPECT_EQ(o.relayed, e.relayed) << address(i) << " at tick " << now_;
            EXPECT_EQ(o.keepAlives, e.keepAlives) << address(i) << " at tick " << now_;
            EXPECT_EQ(o.busy, e.busy) << address(i) << " at tick " << now_;
            EXPECT_EQ(o.byes, e.byes) << address(i) << " at tick " << now_;
        }
        EXPECT_TRUE(unknown_->audio.drain().empty());
        EXPECT_TRUE(unknown_->control.drain().empty());
    }

    ServerHarness& server() { return server_; }
    const Figures& figures() const { return figures_; }
    int connected() const { return connectedCount(); }

  private:
    const std::string& address(int i) const { return stations_[i]->address(); }

    int connectedCount() const {
        int n = 0;
        for (const Expected& e : model_) {
            n += e.present ? 1 : 0;
        }
        return n;
    }

    int uniform(int low, int high) { return std::uniform_int_distribution<int>(low, high)(rng_); }
    bool chance(int percent) { return uniform(0, 99) < percent; }

    // A control packet from station i, and what the server must make of it. The server
    // handles it before the next one is sent: a BYE's window closes through a posted
    // message, after which the next admission counts one station less.
    void sendControl(int i, const std::vector<uint8_t>& packet, bool bye) {
        stations_[i]->sendControl(SERVER, packet);
        readable(controlPortSocket, 100);
        settle();
        Expected& e = model_[i];
        if (e.present) {
            e.idleTicks = 0;
            if (bye) {
                closeByBye(i);
            }
            return;
        }
        ++figures_.joinsSent;
        if (closedHold_ > 0 && closedAddress_ == i) {
            ++figures_.heldOff;
            return;
        }
        if (connectedCount() > CAPACITY) {
            ++figures_.refused;
            // Told at most once per 10 ticks, and at most 20 refusals a tick in all.
            if (refusalTick_ != now_) {
                refusalTick_ = now_;
                refusalsThisTick_ = 0;
            }
            if (now_ - e.refusedAt >= 10 && refusalsThisTick_ < 20) {
                e.refusedAt = now_;
                ++refusalsThisTick_;
                ++e.busy;
                ++e.byes;
            }
            return;
        }
        ++figures_.admitted;
        e.present = true;
        e.idleTicks = 0;
        e.keepAliveTicks = 0;
        Plan& p = plans_[i];
        p.silent = chance(20);
        p.lifeEnd = now_ + uniform(30, 400);
        p.leavesByBye = chance(50);
        p.nextKeepAlive = now_ + uniform(3, 30);
        if (bye) {
            closeByBye(i);
        }
    }

    void closeByBye(int i) {
        model_[i].present = false;
        closedAddress_ = i;
        closedHold_ = CLOSED_HOLD_TICKS;
        ++figures_.byeCloses;
    }

    // Sends an audio datagram from station i (the stranger for i < 0); the server takes it
    // at the next flush.
    void sendAudio(int i, size_t size) {
        std::vector<uint8_t> bytes(size, static_cast<uint8_t>(0x40 + (now_ & 0x3F)));
        ++serial_; // every datagram its own bytes: the loop guard drops a repeat
        for (size_t k = 0; k < 4 && k < size; ++k) {
            bytes[k] = static_cast<uint8_t>(serial_ >> (8 * k));
        }
        (i < 0 ? *unknown_ : *stations_[i]).sendAudio(SERVER, bytes);
        batch_.push_back(Datagram{i, size});
    }

    // Lets the server take the datagrams sent since the last flush, all waiting at once,
    // and follows them through the model in order: talker lock and relay, then the flood
    // guard, which counts relayed datagrams that found another one waiting and, past 25 in
    // a row, throws away what is waiting. A dropped datagram leaves the count alone.
    void flushAudio() {
        if (batch_.empty()) {
            return;
        }
        waitDelivered();
        settle();
        bool throwingAway = false;
        for (size_t k = 0; k < batch_.size(); ++k) {
            if (throwingAway) {
                ++figures_.thrownAway;
                continue;
            }
            if (!relayedByModel(batch_[k].from, batch_[k].size)) {
                continue;
            }
            if (k + 1 == batch_.size()) {
                queueCount_ = 0;
            } else if (++queueCount_ > QUEUE_COUNT_LIMIT) {
                queueCount_ = 0;
                throwingAway = true;
                ++figures_.queueClears;
            }
        }
        batch_.clear();
    }

    // Returns once the datagrams sent so far have reached their sockets: a marker sent after
    // them over loopback arrives behind them.
    void waitDelivered() {
        const std::vector<uint8_t> marker = {0x4D};
        stations_[0]->control.sendTo(UNKNOWN, CONTROL_PORT, marker);
        std::vector<uint8_t> got;
        ASSERT_TRUE(unknown_->control.receive(got, 1000));
        ASSERT_EQ(got, marker);
    }

    // One audio datagram as the relay must treat it; true when it is relayed.
    bool relayedByModel(int i, size_t size) {
        if (i < 0 || !model_[i].present) {
            ++figures_.unregistered;
            return false;
        }
        if (size >= static_cast<size_t>(LONG_DATAGRAM_MIN)) {
            if (hold_ == 0) {
                holder_ = i;
            }
            if (holder_ != i) {
                ++figures_.firewalled;
                return false;
            }
            hold_ = 2;
        }
        model_[i].idleTicks = 0;
        ++figures_.relayed;
        for (int k = 0; k < POOL; ++k) {
            if (k != i && model_[k].present) {
                ++model_[k].relayed;
            }
        }
        return true;
    }

    // Joins (some with a BYE at once), leaves by BYE, keep-alives.
    void controlPackets() {
        for (int i = 0; i < POOL; ++i) {
            Expected& e = model_[i];
            Plan& p = plans_[i];
            if (!e.present) {
                if (chance(4)) {
                    const bool byeAtOnce = chance(3);
                    sendControl(i,
                                byeAtOnce ? testutil::receiverReportWithBye()
                                          : testutil::namePacket("S" + std::to_string(i + 1)),
                                byeAtOnce);
                }
                continue;
            }
            if (!p.silent && now_ >= p.lifeEnd) {
                if (p.leavesByBye) {
                    sendControl(i, testutil::receiverReportWithBye(), true);
                    continue;
                }
                p.silent = true; // it will time out
            }
            if (!p.silent && now_ >= p.nextKeepAlive) {
                sendControl(i, testutil::emptyReceiverReport(), false);
                p.nextKeepAlive = now_ + uniform(5, 60);
            }
        }
    }

    // A stranger, then the talker, stations that barge in and short datagrams. The
    // stranger's datagram goes first on its own: the first receipt of a second takes the
    // queue turn, which relays the datagrams behind it before its own.
    void audio() {
        sendAudio(-1, SHORT_SIZE);
        flushAudio();
        if (talker_ < 0 || !model_[talker_].present || plans_[talker_].silent || now_ >= talkEnd_) {
            talker_ = -1;
            if (now_ >= talkEnd_ + pause_) {
                std::vector<int> candidates;
                for (int i = 0; i < POOL; ++i) {
                    if (model_[i].present && !plans_[i].silent) {
                        candidates.push_back(i);
                    }
                }
                if (!candidates.empty()) {
                    talker_ = candidates[uniform(0, static_cast<int>(candidates.size()) - 1)];
                    talkEnd_ = now_ + uniform(3, 25);
                    pause_ = uniform(0, 6);
                }
            }
        }
        if (talker_ >= 0) {
            for (int k = 0; k < TALK_BURST; ++k) {
                sendAudio(talker_, LONG_SIZE);
            }
        }
        for (int i = 0; i < POOL; ++i) {
            Expected& e = model_[i];
            Plan& p = plans_[i];
            if (!e.present || p.silent) {
                continue;
            }
            if (i != talker_ && chance(2)) {
                sendAudio(i, LONG_SIZE); // barges in: dropped while the lock is held
            }
            if (chance(3)) {
                sendAudio(i, SHORT_SIZE); // short datagrams pass the lock
            }
        }
        flushAudio();
    }

    // The tick as the server counts it: talker hold, closed-address hold, then each
    // station's inactivity and keep-alive.
    void tickModel() {
        if (hold_ > 0) {
            --hold_;
        }
        if (closedHold_ > 0) {
            --closedHold_;
        }
        for (Expected& e : model_) {
            if (!e.present) {
                continue;
            }
            const int old = e.idleTicks++;
            if (old >= INACTIVITY_LIMIT_TICKS) {
                e.present = false;
                ++figures_.timeouts;
                continue;
            }
            if (--e.keepAliveTicks <= 0) {
                e.keepAliveTicks = KEEPALIVE_PERIOD_TICKS;
                ++e.keepAlives;
                ++figures_.keepAlives;
            }
        }
        const long n = connectedCount();
        figures_.maxConnected = n > figures_.maxConnected ? n : figures_.maxConnected;
    }

    // The server's station windows are exactly the model's stations.
    void checkWindows(const char* when) {
        std::set<std::string> windows;
        int count = 0;
        for (HWND c = GetWindow(mdiClient, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
            if (!isStationWindow(c)) {
                continue;
            }
            ++count;
            const StationRecord* r = stationRecordOf(c);
            ASSERT_NE(r, nullptr);
            windows.insert(r->addressText);
        }
        ASSERT_EQ(stationCount, count) << when << ", tick " << now_;
        std::set<std::string> expected;
        for (int i = 0; i < POOL; ++i) {
            if (model_[i].present) {
                expected.insert(address(i));
            }
        }
        ASSERT_EQ(windows, expected) << when << ", tick " << now_;
    }

    // Takes what the stations received. Counts never run ahead of the model; with wait,
    // waits (bounded) for datagrams still on their way until the counts meet it.
    void collect(bool wait) {
        for (int round = 0; round < (wait ? 200 : 1); ++round) {
            bool behind = false;
            for (int i = 0; i < POOL; ++i) {
                take(i);
                const Observed& o = observed_[i];
                const Expected& e = model_[i];
                ASSERT_LE(o.relayed, e.relayed) << address(i) << " at tick " << now_;
                ASSERT_LE(o.keepAlives, e.keepAlives) << address(i) << " at tick " << now_;
                ASSERT_LE(o.busy, e.busy) << address(i) << " at tick " << now_;
                ASSERT_LE(o.byes, e.byes) << address(i) << " at tick " << now_;
                behind = behind || o.relayed < e.relayed || o.keepAlives < e.keepAlives ||
                         o.busy < e.busy || o.byes < e.byes;
            }
            if (!behind) {
                return;
            }
            readable(stations_[0]->audio.fd(), 10);
        }
    }

    void take(int i) {
        Observed& o = observed_[i];
        for (const auto& d : stations_[i]->audio.drain()) {
            const std::string text(d.begin(), d.end());
            if (text == BUSY_TEXT) {
                ++o.busy;
            } else if (text.rfind("oNDATA", 0) == 0) {
                // station list text or standby beacon
            } else {
                ASSERT_TRUE(d.size() == LONG_SIZE || d.size() == SHORT_SIZE) << d.size();
                ++o.relayed;
            }
        }
        for (const auto& d : stations_[i]->control.drain()) {
            if (d == KEEPALIVE_SOAK) {
                ++o.keepAlives;
            } else {
                ASSERT_EQ(d, BYE_TERM) << address(i);
                ++o.byes;
            }
        }
    }

    ServerHarness server_;
    std::mt19937 rng_;
    std::vector<std::unique_ptr<TestStation>> stations_;
    std::unique_ptr<TestStation> unknown_;
    std::vector<Expected> model_;
    std::vector<Plan> plans_;
    std::vector<Observed> observed_;
    Figures figures_;
    int now_ = 0;
    uint32_t serial_ = 0;
    int refusalTick_ = -1;
    int refusalsThisTick_ = 0;
    int hold_ = 0;
    int holder_ = -1;
    int closedHold_ = 0;
    int closedAddress_ = -1;
    int queueCount_ = 0;
    std::vector<Datagram> batch_;
    int talker_ = -1;
    int talkEnd_ = 0;
    int pause_ = 0;
};

} // namespace

TEST(Soak, TwentySixStationsComeAndGoWithoutLeakOrDrift) {
    const int minutes = soakMinutes();
    Soak soak;
    ASSERT_TRUE(soak.start());
    std::vector<size_t> heap;
    std::vector<size_t> resident;
    heap.reserve(static_cast<size_t>(minutes) + 1);
    resident.reserve(static_cast<size_t>(minutes) + 1);
    for (int minute = 1; minute <= minutes; ++minute) {
        for (int s = 0; s < 60; ++s) {
            soak.second();
            if (::testing::Test::HasFatalFailure()) {
                return;
            }
        }
        soak.checkCounts();
        soak.server().clearStatus();
        heap.push_back(heapInUse());
        resident.push_back(residentKiB());
        std::printf("minute %2d: %2d stations, heap in use %zu bytes, resident %zu KiB\n", minute,
                    soak.connected(), heap.back(), resident.back());
    }
    const Figures& f = soak.figures();
    std::printf("joins sent %ld: admitted %ld, refused %ld, held off %ld; closed by BYE %ld, "
                "timed out %ld; relayed %ld, firewalled %ld, unregistered %ld, queue cleared %ld "
                "times (%ld thrown away); keep-alives %ld; most connected %ld\n",
                f.joinsSent, f.admitted, f.refused, f.heldOff, f.byeCloses, f.timeouts, f.relayed,
                f.firewalled, f.unregistered, f.queueClears, f.thrownAway, f.keepAlives,
                f.maxConnected);
    // Every kind of event happened, and the conference was full at some point.
    EXPECT_GT(f.admitted, 26);
    EXPECT_GT(f.refused, 0);
    EXPECT_GT(f.byeCloses, 0);
    EXPECT_GT(f.firewalled, 0);
    EXPECT_EQ(f.maxConnected, 26);
    if (minutes >= 3) {
        EXPECT_GT(f.timeouts, 0);
    }
    // Memory stays flat from the first minute to the last.
    if (heap.size() >= 2) {
        EXPECT_LE(heap.back(), heap.front() + MEMORY_GROWTH_LIMIT)
            << "heap grew from " << heap.front() << " to " << heap.back() << " bytes";
    }
    soak.server().close();
    EXPECT_EQ(stationCount, 0);
}
