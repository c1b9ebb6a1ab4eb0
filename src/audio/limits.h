// Station limits, the [limits] section of the configuration file, read once at start (a
// missing key or 0 is no limit, the described behaviour):
//   talk     ticks a station may hold the talker lock without a pause of one beacon tick;
//            then it is muted (its datagrams are not relayed) until it pauses, and the lock
//            is free at once;
//   rate     datagrams a tick relayed from one station: a bucket of one tick's worth,
//            filled again at each tick (serverTicks), the rest dropped before the relay;
//   unnamed  ticks a station may stay without a name; until it has one it is sent nothing
//            but the keep-alive compound, then it is closed as a BYE closes it.
// The checks on the relay path touch a few words of the sender's record: no allocation, no
// system call.
#pragma once

#include "base/app_state.h"
#include "stations/station.h"

#include <cstdint>

extern int32_t limitTalk;
extern int32_t limitRate;
extern int32_t limitUnnamed;

// The talk count: ticks the current talker has talked without a pause. Whether it paused is
// followed at each beacon tick: HEARD (a long datagram since the last beacon tick), QUIET
// (none since the last one), PAUSED (none for a whole beacon tick: the next datagram
// starts the count again). Without a talk limit it stays HEARD.
extern int32_t limitTalkTicks;
enum : uint8_t { TALK_HEARD = 0, TALK_QUIET = 1, TALK_PAUSED = 2 };
extern uint8_t limitTalkState;

// A pause: no datagram during one whole beacon tick, so the beacon count moved by two or
// more between two datagrams.
constexpr uint32_t LIMITS_PAUSE_BEACON_TICKS = 2;

// Reads [limits] talk, rate and unnamed (main window creation); negative values are 0.
void limitsStart();
// Back to no limits (and the talk count to 0).
void limitsReset();

// The datagrams of a tick without a rate limit: more than any station can send.
constexpr int32_t LIMITS_UNLIMITED = 1 << 29;
// Taken from rateLeft while a station is muted.
constexpr int32_t LIMITS_MUTED_BIAS = 1 << 30;

// The out-of-line end of limitsPass, for a datagram that found rateLeft spent: gives a
// station its tick's datagrams when it has not had them yet, then judges the datagram
// (beyond the rate: counted, false; from a muted station: false while it has not paused,
// counted; true once it has).
bool limitsGate(StationRecord* sender);

// A datagram from the active station sender, before the talker lock: false when it is not
// to be relayed (beyond its rate, or muted by the talk limit), counted as such. Inline: one
// decrement and test of the sender's record on every relayed datagram, limits or not.
inline bool limitsPass(StationRecord* sender) {
    return --sender->rateLeft >= 0 || limitsGate(sender);
}

// The out-of-line end of limitsTalkerHeard: the first long datagram after a beacon tick.
void limitsTalkerBack();

// A long datagram of the talker passed the lock (it already held it). Starts the talk count
// again when the talker paused for a whole beacon tick. Inline: one compare while it talks.
inline void limitsTalkerHeard() {
    if (limitTalkState != TALK_HEARD) [[unlikely]] {
        limitsTalkerBack();
    }
}
// A long datagram has just taken the talker lock: the talk count starts.
inline void limitsTalkerTook() {
    limitTalkTicks = 0;
    limitTalkState = TALK_HEARD;
}
// Once a TIMER_BEACON: moves the pause state on (see limitTalkState).
void limitsBeaconTick();
// Once a TIMER_TICK, after the talker hold was counted down: mutes a talker over the talk
// limit (status "TALK LIMIT", event talk-limit, the lock freed), closes the stations unnamed
// for longer than the unnamed limit.
void limitsTick();

// True for a station that is sent nothing but keep-alives: unnamed under the unnamed limit.
inline bool limitsWithholds(const StationRecord* record) {
    return limitUnnamed > 0 && record->name == nullptr;
}
