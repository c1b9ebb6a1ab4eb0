// The control port's datagram path: each input is sent as one datagram to the real server's
// control port, twice from a new station and then from a station that the full conference
// refuses. Checked: what the refused station receives, byte for byte; that the server keeps
// stationCount equal to its station windows; that a permanent station is left alone.
// Between inputs the stations the input made are closed, so every input meets one state.
#include "server_fixture.h"

#include "base/app_state.h"
#include "control/rtcp.h"
#include "platform/window/window.h"
#include "stations/refusal_hold.h"
#include "stations/station.h"

#include <cstring>

using testutil::TestStation;

namespace {

const std::string SERVER = "127.70.1.1";
// Capacity 1: two stations can be connected, the third is refused.
const char* const CONFIG =
    "[callsign]\nuser=*FUZZ*\ndesc=FUZZ\nvalid=PW\n[server]\n1=127.70.1.1\nver=618\nmaxusers=1\n";
const std::string PERMANENT = "127.70.1.2";

const uint8_t BUSY_TEXT[] = "oNDATA***SERVER BUSY - TRY LATER***\r\r";
const uint8_t BYE_TERM[] = {0xC0, 0xC9, 0x00, 0x01, 0,   0,   0,   0, 0xE1, 0xCB, 0x00, 0x04, 0, 0,
                            0,    0,    4,    'T',  'e', 'r', 'm', 0, 0,    0,    0,    0,    0, 4};

struct World {
    testutil::ServerHarness& server;
    TestStation permanent{PERMANENT};
    TestStation joining{"127.70.1.3"};
    TestStation refused{"127.70.1.4"};
    explicit World(testutil::ServerHarness& s) : server(s) {}
};

World& world() {
    static World* w = nullptr;
    if (w == nullptr) {
        w = new World(fuzzing::startServer(SERVER, CONFIG));
        std::vector<uint8_t> name = testutil::namePacket("PERM");
        fuzzing::deliver(w->permanent.control, SERVER, CONTROL_PORT, name.data(), name.size());
        fuzzing::require(stationCount == 1 && fuzzing::hasStation(PERMANENT));
    }
    return *w;
}

// The permanent station is active, named "PERM", and nobody else's packet changed that.
void checkPermanent() {
    const StationRecord* record = fuzzing::stationAt(PERMANENT);
    fuzzing::require(record != nullptr && record->state == STATION_ACTIVE);
    fuzzing::require(record->name != nullptr && std::strcmp(record->name, "PERM") == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65507) {
        return 0; // no datagram is longer
    }
    World& w = world();
    // A neutral status first, so that each input's own status texts are seen.
    SetWindowTextA(mainWindow, "FUZZ");
    w.server.clearStatus();
    refusalHoldReset(); // every input's refused station is told anew
    const bool received = size >= 5 && size <= 3624;
    const bool bye = received && rtcpHasBye(data, static_cast<int>(size));

    // A new station: admitted by any datagram of 5 to 3624 bytes, closed at once by a BYE.
    fuzzing::deliver(w.joining.control, SERVER, CONTROL_PORT, data, size);
    fuzzing::require(stationCount == fuzzing::stationWindowCount());
    fuzzing::require(fuzzing::hasStation(w.joining.address()) == (received && !bye));
    if (!received) {
        fuzzing::require(w.server.lastStatus() == "CNTL PKT ERROR");
    }
    if (bye) {
        fuzzing::require(w.server.lastStatus() == "CLOSING..." && closedHoldTicks > 0);
    }
    // The same datagram from the now known station (or from the held-off address).
    fuzzing::deliver(w.joining.control, SERVER, CONTROL_PORT, data, size);
    fuzzing::require(fuzzing::hasStation(w.joining.address()) == (received && !bye));
    if (const StationRecord* r = fuzzing::stationAt(w.joining.address())) {
        fuzzing::require(r->state == STATION_ACTIVE && r->idleTicks == 0);
        fuzzing::require(r->name == nullptr || std::strlen(r->name) <= 255);
    }

    // A third station while two are connected: refused with one busy text and one BYE.
    fuzzing::deliver(w.refused.control, SERVER, CONTROL_PORT, data, size);
    if (received && !bye) {
        fuzzing::require(!fuzzing::hasStation(w.refused.address()));
        fuzzing::expectDatagram(w.refused.audio, BUSY_TEXT, sizeof BUSY_TEXT);
        fuzzing::expectDatagram(w.refused.control, BYE_TERM, sizeof BYE_TERM);
    } else {
        // Nothing was admitted, or the BYE closed the station that it admitted.
        fuzzing::require(!fuzzing::hasStation(w.refused.address()));
    }
    fuzzing::require(stationCount == fuzzing::stationWindowCount());
    checkPermanent();

    fuzzing::closeStationsExcept({PERMANENT});
    for (TestStation* s : {&w.permanent, &w.joining, &w.refused}) {
        fuzzing::expectNothing(s->audio);
        fuzzing::expectNothing(s->control);
    }
    return 0;
}
