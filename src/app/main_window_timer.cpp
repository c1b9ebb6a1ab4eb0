#include "access/access.h"
#include "app/main_window.h"
#include "app/station_panel.h"
#include "audio/limits.h"
#include "audio/relay.h"
#include "audio/station_list.h"
#include "base/app_state.h"
#include "ctl/ctl.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "stations/station_access.h"

void onMainWindowTimer(HWND, UINT_PTR id) {
    if (id == TIMER_TICK) {
        ++serverTicks;
    } else if (id == TIMER_BEACON) {
        ++beaconTicks;
        limitsBeaconTick();
    }
    if (id == TIMER_TICK && talkerHold > 0 && --talkerHold == 0) {
        monitorTalkerFree();
    }
    if (id == TIMER_TICK) {
        monitorTick();
        stationPanelTick();
        ctlTick();
    }
    if (id == TIMER_BEACON) {
        standbyStep();
        return;
    }
    forEachStation([id](StationRecord*, HWND window) { PostMessageA(window, WM_TIMER, id, 0); });
    if (closedHoldTicks > 0) {
        --closedHoldTicks;
    }
    if (id == TIMER_TICK) {
        stationsAccessTick();
        limitsTick();
        linksTick(stationCount > capacity);
    }
}
