// Admission of a new station, or its refusal when the conference is full.
#pragma once

#include "platform/types.h"
#include "stations/station.h"

// Admits the record (state 0): creates its station window "CONNECTED " in the MDI client,
// attaches the record, opens its two connected sockets and counts it. Refuses it (busy
// text to its port 5198, BYE "Term" to its port 5199) while stationCount is above the
// capacity (or the station set is full); a refusal that refusalMaySend holds back sends
// nothing. Returns the new window, or null on refusal or failure; then the caller still owns
// the record and nothing of the admission is left behind.
HWND admitStation(StationRecord* record);
