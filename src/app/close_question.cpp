// The operator's close of the conference: the question asked while stations are connected.
#include "app/main_window.h"
#include "base/app_state.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "stations/station_set.h"

#include <cstdio>

namespace {

constexpr const char* CLOSE_CAPTION = "CLOSE CONFERENCE";

bool asking = false; // the question is open: a second close request waits for its answer

// The stations in the MDI client that are not already closing.
int connectedStations() {
    int count = 0;
    forEachStation([&](const StationRecord* record, HWND) {
        if (record->state != STATION_CLOSING) {
            ++count;
        }
    });
    return count;
}

} // namespace

void askToCloseConference(HWND hwnd) {
    if (asking) {
        return;
    }
    int stations = connectedStations();
    if (stations > 0) {
        char question[96];
        std::snprintf(question, sizeof question, "%d station%s connected: close the conference?",
                      stations, stations == 1 ? "" : "s");
        asking = true;
        int answer = MessageBoxA(hwnd, question, CLOSE_CAPTION, MB_YESNO);
        asking = false;
        if (answer != IDYES) {
            return;
        }
    }
    PostMessageA(hwnd, WM_CLOSE, 0, 0);
}
