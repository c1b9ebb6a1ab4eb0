// The access rules applied to the stations: the walks that close the stations the rules in
// force deny, as a BYE closes them, so that the access subsystem below only answers
// questions and never walks the stations itself.
#pragma once

#include "platform/types.h"

struct StationRecord;

// On each tick of the main window: the access file's tick (accessTick), then every open
// station counts its ticks towards ACCESS_NAMING_TICKS and is judged again when new rules
// came in force or its time to name itself in a closed conference ran out.
void stationsAccessTick();
// Closes every open station that the rules in force deny (installed as the access rules'
// listener: the operator's reload, an appended deny).
void stationsCloseDenied();
// The control handler has just set or changed the station's name: when the callsign rules
// deny it, the station is closed as a BYE closes it (state '-', WM_CLOSE to its window).
// True when it was closed.
bool stationAccessNamed(HWND window, StationRecord* record);
