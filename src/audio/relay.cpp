#include "audio/relay.h"

#include "audio/limits.h"
#include "audio/loop_guard.h"
#include "audio/station_list.h"
#include "base/app_state.h"
#include "base/status_text.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/net/batch_send.h"
#include "stations/station.h"

#include <cstring>

char talkerAddress[16] = "";
namespace {
// The talker's IPv4 address (network order), set with talkerAddress: the two name the same
// station (a record's address text is its source address in dotted decimal), and the lock
// compares the number.
uint32_t talkerSource = 0;
} // namespace
int32_t talkerHold = 0;
int32_t queueCount = 0;

namespace {

// Text datagrams begin with these six bytes and are never relayed: a station's texts, and
// another server's list text and beacon ("oNDATACONF"), which relayed would feed a loop.
constexpr char TEXT_PREFIX[] = "oNDATA";
constexpr int TEXT_PREFIX_LENGTH = 6;

// A drain reads at most this many datagrams: more than a default receive buffer can hold,
// so it empties what was waiting when it began without running as long as a flood lasts.
constexpr int DRAIN_MAX = 1024;

// Applies the talker lock to a long datagram; false when it must be dropped.
bool passesTalkerLock(const StationRecord* sender, int at) {
    if (talkerHold == 0) {
        std::memcpy(talkerAddress, sender->addressText, sizeof talkerAddress);
        talkerSource = sender->source.sin_addr.s_addr;
        talkerHold = 2;
        listCycle = 9;
        monitorTalker(at);
        limitsTalkerTook();
        return true;
    }
    if (talkerSource != sender->source.sin_addr.s_addr) {
        setStatusText("FIREWALL");
        monitorFirewalled(at);
        return false;
    }
    talkerHold = 2;
    limitsTalkerHeard();
    return true;
}

// Sends the datagram to every other active station in window order, and runs the list
// steps for each active station. Returns the number of copies sent. A station has the
// sender's address text exactly when it has the sender's IPv4 address (the text is that
// address in dotted decimal), so the address is compared as a number. The list steps are
// skipped on the datagrams where they would do nothing. Every send of the fan-out goes to
// the kernel in one batch, submitted before this returns (bytes are read during it).
// WithholdUnnamed (the unnamed limit, while a station has no name): unnamed stations are
// sent nothing; the walk without it does not look at names.
template <bool WithholdUnnamed>
int fanOut(const StationRecord* sender, const char* bytes, int length) {
    int copies = 0;
    sendBatchBegin();
    const uint32_t senderAddress = sender->source.sin_addr.s_addr;
    const bool listDue = listStationStepsDue();
    // A plain walk of the set: nothing the fan-out calls adds or takes out a station.
    for (int i = 0; i < stationSet.count; ++i) {
        StationRecord* record = stationSet.records[i];
        if (record->state != STATION_ACTIVE || (WithholdUnnamed && record->name == nullptr)) {
            continue;
        }
        const bool other = record->source.sin_addr.s_addr != senderAddress;
        if (other) {
            sendBatchQueue(record->audioSocket, bytes, length);
            ++copies;
        }
        if (listDue) {
            if (other) {
                listAddStation(record);
            } else {
                listAddTalker(record);
            }
            listSend(record);
        }
    }
    sendBatchSubmit();
    return copies;
}

// Flood guard: counts receipts that found a further notification waiting; past 25 in a row
// the waiting audio is read and thrown away.
void queueCheck(SOCKET s, char* buffer) {
    MSG waiting{};
    if (!PeekMessageA(&waiting, nullptr, MSG_AUDIO_SOCKET, MSG_AUDIO_SOCKET, PM_NOREMOVE)) {
        queueCount = 0;
        return;
    }
    if (++queueCount <= QUEUE_COUNT_LIMIT) {
        return;
    }
    queueCount = 0;
    int drained = 0;
    for (; drained < DRAIN_MAX &&
           PeekMessageA(&waiting, nullptr, MSG_AUDIO_SOCKET, MSG_AUDIO_SOCKET, PM_REMOVE);
         ++drained) {
        sockaddr_in from{};
        int fromLength = sizeof from;
        ws::recvfrom(s, buffer, AUDIO_BUFFER_SIZE, 0, reinterpret_cast<sockaddr*>(&from),
                     &fromLength);
        setStatusText("MSG QUEUE CLEARED");
    }
    monitorQueueCleared(drained);
}

} // namespace

void relayReset() {
    std::memset(talkerAddress, 0, sizeof talkerAddress);
    talkerSource = 0;
    talkerHold = 0;
    queueCount = 0;
    queueTurnReset();
    listReset();
}

void onAudioSocket(SOCKET s, WORD event, WORD error) {
    if (event != FD_READ || error != 0) {
        return;
    }
    // This call's own buffer: the queue turn may run the relay again before this datagram is
    // handled, and this datagram must come through unchanged.
    char buffer[AUDIO_BUFFER_SIZE];
    sockaddr_in from{};
    int fromLength = sizeof from;
    int length = ws::recvfrom(s, buffer, AUDIO_BUFFER_SIZE, 0, reinterpret_cast<sockaddr*>(&from),
                              &fromLength);
    queueTurn();
    if (length <= 0) {
        return;
    }
    standbyCountdown = 3;
    if (length >= TEXT_PREFIX_LENGTH && std::memcmp(buffer, TEXT_PREFIX, TEXT_PREFIX_LENGTH) == 0) {
        monitorTextDatagram();
        linksTextOnAudio(from.sin_addr.s_addr, buffer, length);
        return;
    }
    sockaddr_in key = from;
    key.sin_port = htons(serverPortOf(s));
    const int at = findStation(&key);
    if (at < 0) {
        setStatusText("UNREGISTERED DATA");
        monitorUnregistered();
        return;
    }
    StationRecord* sender = stationSet.records[at];
    if (sender->state != STATION_ACTIVE || !limitsPass(sender)) {
        return;
    }
    LoopGuardSlot* const relayedNote = loopGuardPass(buffer, length);
    if (relayedNote == nullptr) {
        monitorLoop();
        return;
    }
    if (length >= LONG_DATAGRAM_MIN && !passesTalkerLock(sender, at)) {
        loopGuardForget(relayedNote);
        return;
    }
    if (sender->idleTicks > 0) {
        sender->idleTicks = 0;
    }
    listStart();
    const bool withhold = namedStationCount != stationCount && limitUnnamed > 0;
    monitorRelayed(at, withhold ? fanOut<true>(sender, buffer, length)
                                : fanOut<false>(sender, buffer, length));
    listHints();
    listCycle = listCycle >= 59 ? 0 : listCycle + 1;
    queueCheck(s, buffer);
}
