// The station panel's wiring: the monitor provides the lines; a change of what they show is
// noticed through the monitor's panel version before the pump sleeps, and the figures move
// on with the tick. The relay path only moves that version on (one increment, when the
// talker lock changes hands): the redraw is asked for here, outside it.
#include "app/station_panel.h"

#include "frontend/terminal/terminal_window.h"
#include "monitor/monitor_panel.h"
#include "platform/runtime.h"
#include "stations/station_set.h"

#include <cstdint>

namespace {

uint32_t shownVersion = 0;

int panelCount(void*) {
    return monitorPanelLineCount();
}

size_t panelLine(int index, char* out, size_t size, void*) {
    return monitorPanelLine(index, out, size);
}

// A station line stands for the station's window; the other lines take no action.
uintptr_t panelIdentity(int index, void*) {
    return reinterpret_cast<uintptr_t>(stationWindowAt(index));
}

// Before the pump sleeps: a redraw when a line changed since the last one asked for.
void noticeChange(void*) {
    uint32_t version = monitorPanelVersion();
    if (version != shownVersion) {
        shownVersion = version;
        platformPanelChanged();
    }
}

} // namespace

void stationPanelStart() {
    PlatformPanel panel{panelCount, panelLine, nullptr, STATION_PANEL_TITLE};
    platformSetPanel(&panel);
    platformSetPanelIdentity(panelIdentity, STATION_PANEL_NO_ACTION_TITLE);
    platformSetPanelAction(stationPanelAct, nullptr);
    shownVersion = monitorPanelVersion();
    // Never twice, even when the platform was reset in between (tests start again).
    platformRemoveBeforeSleep(noticeChange, nullptr);
    platformAddBeforeSleep(noticeChange, nullptr);
}

void stationPanelStop() {
    platformRemoveBeforeSleep(noticeChange, nullptr);
    platformSetPanelAction(nullptr, nullptr);
    platformSetPanel(nullptr);
}

void stationPanelTick() {
    shownVersion = monitorPanelVersion();
    platformPanelChanged();
}
