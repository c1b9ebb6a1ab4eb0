// The station list text sent in-band on the audio port, and the standby beacon.
#pragma once

#include "stations/station.h"

#include <cstdint>

constexpr int LIST_TEXT_SIZE = 516;

extern char listText[LIST_TEXT_SIZE];
extern int32_t listCycle;
extern int32_t linkedFlag;
extern int32_t standbyCountdown;

// Sets listText to a single carriage return (main window creation).
void resetListText();
// The list text, cycle, flag and standby countdown as at program start. For tests.
void listReset();

// The values of listCycle at which the list steps build the text and send it.
constexpr int32_t LIST_BUILD_CYCLE = 9;
constexpr int32_t LIST_SEND_CYCLE = 10;

// True when the per-station list steps (listAddStation, listAddTalker, listSend) can do
// anything for the datagram being relayed; otherwise each of them returns at once.
inline bool listStationStepsDue() {
    return listCycle == LIST_BUILD_CYCLE || listCycle == LIST_SEND_CYCLE;
}

// List steps, called by the relay for one relayed datagram.
// Before the fan-out: with listCycle 9 the text becomes the header alone; linkedFlag 0.
void listStart();
// After a station's audio copy: appends it (listCycle 9, name listed).
void listAddStation(const StationRecord* record);
// For a station with the sender's address: appends it with the talker mark and shows it.
void listAddTalker(const StationRecord* record);
// After the two steps above: with listCycle 10 sends listText to the still-active station.
void listSend(const StationRecord* record);
// After the fan-out: with listCycle 9 appends the hint.
void listHints();

// One tick of the beacon timer: counts down and builds or sends the standby beacon.
void standbyStep();
