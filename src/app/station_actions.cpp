// The operator's actions on a station line of the panel. The station is taken when the key
// is pressed and named in the question; while the question waits the server goes on, so
// after a Yes the action is done only when that same station is still connected.
#include "access/access.h"
#include "app/station_panel.h"
#include "base/app_state.h"
#include "control/control_handler.h"
#include "frontend/terminal/terminal_window.h"
#include "monitor/monitor_panel.h"
#include "platform/runtime.h"
#include "platform/stream/escape.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char* CLOSE_CAPTION = "CLOSE STATION";
constexpr const char* DENY_CAPTION = "DENY CALLSIGN";
constexpr size_t NAME_MAX = 255;

// The station a key was pressed on, as it was then.
struct Target {
    HWND window;
    char address[sizeof(StationRecord::addressText)];
    bool named;
    char name[NAME_MAX + 1];               // as the station gave it
    char shownName[escapedSize(NAME_MAX)]; // escaped for the question
};

bool takeTarget(int index, Target* target) {
    HWND window = stationWindowAt(index);
    const StationRecord* record = window != nullptr ? stationRecordOf(window) : nullptr;
    if (record == nullptr || record->state == STATION_CLOSING) {
        return false;
    }
    target->window = window;
    std::snprintf(target->address, sizeof target->address, "%s", record->addressText);
    target->named = record->name != nullptr && record->name[0] != '\0';
    std::snprintf(target->name, sizeof target->name, "%s", target->named ? record->name : "");
    escapeText(target->named ? record->name : "-", target->shownName, sizeof target->shownName);
    return true;
}

// True when the station taken is still connected: the same window, with the same
// address, not closing.
bool stillThere(const Target& target) {
    return stationStillThere(target.window, target.address);
}

// A box with OK alone that tells the operator something (a zero-terminated text).
void tell(const char* caption, const char* text) {
    MessageBoxA(mainWindow, text, caption, MB_OK);
}

void gone(const char* caption, const Target& target) {
    char text[escapedSize(NAME_MAX) + 64];
    std::snprintf(text, sizeof text, "%s (%s) has already left.", target.shownName, target.address);
    tell(caption, text);
}

void closeAsked(const Target& target) {
    char question[escapedSize(NAME_MAX) + 64];
    std::snprintf(question, sizeof question, "Close station %s (%s)?", target.shownName,
                  target.address);
    if (MessageBoxA(mainWindow, question, CLOSE_CAPTION, MB_YESNO) != IDYES) {
        return;
    }
    if (!stillThere(target)) {
        gone(CLOSE_CAPTION, target);
        return;
    }
    controlCloseStation(target.window);
}

// Why the station's callsign cannot be written as a deny line, or null when it can.
const char* whyNoDenyLine(const Target& target) {
    return accessDenyLineProblem(target.named ? target.name : nullptr);
}

void denyAsked(const Target& target) {
    char text[escapedSize(NAME_MAX) * 2 + 160];
    if (const char* why = whyNoDenyLine(target)) {
        std::snprintf(text, sizeof text, "Station %s (%s) %s", target.shownName, target.address,
                      why);
        tell(DENY_CAPTION, text);
        return;
    }
    std::snprintf(text, sizeof text,
                  "Deny callsign %s (%s)? The line \"deny %s\" is added to the access file "
                  "and the station is closed.",
                  target.shownName, target.address, target.shownName);
    if (MessageBoxA(mainWindow, text, DENY_CAPTION, MB_YESNO) != IDYES) {
        return;
    }
    if (!accessAppendDeny(target.name)) {
        std::snprintf(text, sizeof text,
                      "The line \"deny %s\" could not be added: the access file was left as it "
                      "was.",
                      target.shownName);
        tell(DENY_CAPTION, text);
        return;
    }
    // The new rule closes every station of that callsign at once (its address held off);
    // this one for certain.
    if (stillThere(target)) {
        controlCloseDeniedStation(target.window);
    }
}

void showKeys(const Target& target) {
    char text[escapedSize(NAME_MAX) + 128];
    std::snprintf(text, sizeof text,
                  "Station %s (%s): c or Del closes it, d denies its callsign in the access "
                  "file.",
                  target.shownName, target.address);
    tell("STATION", text);
}

} // namespace

void stationPanelAct(int index, int key, void*) {
    Target target{};
    if (!takeTarget(index, &target)) {
        return;
    }
    switch (key) {
    case 'c':
    case PLATFORM_PANEL_DELETE:
        closeAsked(target);
        break;
    case 'd':
        denyAsked(target);
        break;
    case PLATFORM_PANEL_ENTER:
        showKeys(target);
        break;
    default:
        break;
    }
}
