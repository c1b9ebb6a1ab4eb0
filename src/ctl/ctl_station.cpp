// close and deny STATION: the station found by its address or its callsign (without regard
// to case; two stations of one callsign are an error that asks for the address), then acted
// on as the terminal panel's c and d act after their Yes.
#include "access/access.h"
#include "control/control_handler.h"
#include "ctl/ctl_internal.h"
#include "platform/stream/escape.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "stations/station_set.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <strings.h>

namespace {

constexpr size_t NAME_MAX = 255;

// The station found, as it was when found.
struct Found {
    HWND window;
    int matches;
    bool named;
    char name[NAME_MAX + 1];
    char shownName[escapedSize(NAME_MAX)];
    char address[sizeof(StationRecord::addressText)];
};

// Looks for the stations (not closing) that text names.
void findNamed(const char* text, Found* found) {
    *found = Found{};
    in_addr ignored{};
    bool byAddress = inet_pton(AF_INET, text, &ignored) == 1;
    forEachStation([&](const StationRecord* record, HWND window) {
        if (record->state == STATION_CLOSING) {
            return;
        }
        bool match = byAddress ? std::strcmp(record->addressText, text) == 0
                               : record->name != nullptr && strcasecmp(record->name, text) == 0;
        if (!match || found->matches++ > 0) {
            return;
        }
        found->window = window;
        found->named = record->name != nullptr && record->name[0] != '\0';
        std::snprintf(found->name, sizeof found->name, "%s", found->named ? record->name : "");
        escapeText(found->named ? record->name : "-", found->shownName, sizeof found->shownName);
        std::snprintf(found->address, sizeof found->address, "%s", record->addressText);
    });
}

// Exactly one station: true; else false with the error.
bool findOne(const char* text, Found* found, char* error, size_t size) {
    findNamed(text, found);
    char shown[escapedSize(CTL_REQUEST_MAX)];
    escapeText(text, shown, sizeof shown);
    if (found->matches == 0) {
        std::snprintf(error, size, "no station %s", shown);
        return false;
    }
    if (found->matches > 1) {
        std::snprintf(error, size, "%d stations are named %s: give the address", found->matches,
                      shown);
        return false;
    }
    return true;
}

// The station found is still connected: the same window, address, not closing.
bool stillThere(const Found& found) {
    return stationStillThere(found.window, found.address);
}

} // namespace

bool ctlCloseStation(const char* station, CtlAnswer* answer, char* error, size_t size) {
    Found found;
    if (!findOne(station, &found, error, size)) {
        return false;
    }
    controlCloseStation(found.window);
    char line[escapedSize(NAME_MAX) + 64];
    std::snprintf(line, sizeof line, "closed %s (%s)", found.shownName, found.address);
    ctlAnswerLine(answer, line);
    return true;
}

bool ctlDenyStation(const char* station, CtlAnswer* answer, char* error, size_t size) {
    Found found;
    if (!findOne(station, &found, error, size)) {
        return false;
    }
    if (const char* why = accessDenyLineProblem(found.named ? found.name : nullptr)) {
        std::snprintf(error, size, "station %s (%s) %s", found.shownName, found.address, why);
        return false;
    }
    if (!accessAppendDeny(found.name)) {
        std::snprintf(error, size,
                      "the line \"deny %s\" could not be added: the access file was left as it was",
                      found.shownName);
        return false;
    }
    // The new rule closes every station of that callsign at once; this one for certain.
    if (stillThere(found)) {
        controlCloseDeniedStation(found.window);
    }
    char line[escapedSize(NAME_MAX) * 2 + 96];
    std::snprintf(line, sizeof line, "denied %s (%s): \"deny %s\" added to the access file",
                  found.shownName, found.address, found.shownName);
    ctlAnswerLine(answer, line);
    return true;
}
