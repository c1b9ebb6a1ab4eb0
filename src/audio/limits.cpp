#include "audio/limits.h"

#include "audio/relay.h"
#include "base/app_state.h"
#include "base/status_text.h"
#include "config/config.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/profile/profile.h"
#include "platform/window/window.h"
#include "stations/station_set.h"

#include <arpa/inet.h>

int32_t limitTalk = 0;
int32_t limitRate = 0;
int32_t limitUnnamed = 0;
int32_t limitTalkTicks = 0;
uint8_t limitTalkState = TALK_HEARD;

namespace {

constexpr char TALK_LIMIT_STATUS[] = "TALK LIMIT";

int32_t readLimit(const char* key) {
    auto value = static_cast<int32_t>(GetPrivateProfileIntA("limits", key, 0, CONFIG_FILE));
    return value > 0 ? value : 0;
}

// The record of the station that holds the talker lock, or null.
StationRecord* talkerStation() {
    sockaddr_in key{};
    key.sin_family = AF_INET;
    key.sin_port = htons(AUDIO_PORT);
    if (inet_pton(AF_INET, talkerAddress, &key.sin_addr) != 1) {
        return nullptr;
    }
    const int at = findStation(&key);
    return at >= 0 ? stationSet.records[at] : nullptr;
}

// The talker has talked too long: muted until it pauses, the lock free for the others.
void muteTalker() {
    StationRecord* record = talkerStation();
    talkerHold = 0;
    limitTalkTicks = 0;
    monitorTalkerFree();
    if (record == nullptr) {
        return;
    }
    if (record->muted == 0) {
        record->muted = 1;
        record->rateLeft -= LIMITS_MUTED_BIAS;
    }
    record->mutedBeacon = beaconTicks;
    setStatusText(TALK_LIMIT_STATUS);
    monitorTalkLimit(stationIndexOf(record));
}

// Closes every open station that has stayed unnamed for limitUnnamed ticks; a link is never
// closed for it (its peer is a server of the network, not a forged first packet).
void closeUnnamed() {
    forEachStation([](StationRecord* record, HWND window) {
        if (record->state == STATION_CLOSING || record->name != nullptr ||
            linkOf(record->source.sin_addr.s_addr) != nullptr) {
            return;
        }
        if (++record->unnamedTicks >= limitUnnamed) {
            monitorUnnamedClosed(stationIndexOf(record));
            stationRequestClose(window, record);
        }
    });
}

} // namespace

void limitsStart() {
    limitTalk = readLimit("talk");
    limitRate = readLimit("rate");
    limitUnnamed = readLimit("unnamed");
    limitTalkTicks = 0;
}

void limitsReset() {
    limitTalk = 0;
    limitRate = 0;
    limitUnnamed = 0;
    limitTalkTicks = 0;
    limitTalkState = TALK_HEARD;
}

namespace {

// The datagrams a station may send in one tick.
int32_t rateBudget() {
    return limitRate > 0 ? limitRate : LIMITS_UNLIMITED;
}

int32_t mutedBias(const StationRecord* record) {
    return record->muted != 0 ? LIMITS_MUTED_BIAS : 0;
}

// Every station's datagrams for the tick that has just begun (what is left of the last
// one is not carried over).
void refillRates() {
    forEachStation([](StationRecord* record, HWND) {
        record->rateLeft = limitRate - mutedBias(record);
        record->rateTick = serverTicks + 1;
    });
}

} // namespace

bool limitsGate(StationRecord* sender) {
    if (sender->rateTick != serverTicks + 1) {
        // Not given this tick's datagrams yet (admitted since the tick began, or no rate
        // limit and the large allowance spent): this datagram is the first of them.
        sender->rateTick = serverTicks + 1;
        sender->rateLeft = rateBudget() - 1 - mutedBias(sender);
    }
    if (sender->rateLeft + mutedBias(sender) < 0) {
        sender->rateLeft = -1 - mutedBias(sender); // spent; kept from running down further
        // The flood guard counts audio that would be relayed late; what the rate limit
        // drops is never relayed, so it ends the guard's run instead of feeding it, and a
        // station's flood cannot make the guard throw away the talker's audio.
        queueCount = 0;
        monitorRateLimited(stationIndexOf(sender));
        return false;
    }
    if (sender->muted == 0) {
        return true;
    }
    if (beaconTicks - sender->mutedBeacon < LIMITS_PAUSE_BEACON_TICKS) {
        sender->mutedBeacon = beaconTicks;
        setStatusText(TALK_LIMIT_STATUS);
        monitorMuted(stationIndexOf(sender));
        return false;
    }
    sender->muted = 0; // it paused
    sender->rateLeft += LIMITS_MUTED_BIAS;
    return true;
}

void limitsTalkerBack() {
    if (limitTalkState == TALK_PAUSED) {
        limitTalkTicks = 0;
    }
    limitTalkState = TALK_HEARD;
}

void limitsBeaconTick() {
    if (limitTalk > 0 && limitTalkState != TALK_PAUSED) {
        ++limitTalkState;
    }
}

void limitsTick() {
    if (limitRate > 0) {
        refillRates();
    }
    if (limitTalk > 0 && talkerHold > 0 && ++limitTalkTicks >= limitTalk) {
        muteTalker();
    }
    if (limitUnnamed > 0) {
        closeUnnamed();
    }
}
