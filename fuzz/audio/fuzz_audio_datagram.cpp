// The audio port's datagram path: each input is sent as one datagram to the real server's
// audio port from each of two admitted stations and from an address with no station, with
// a third station listening. Checked byte for byte: the first sender's datagram reaches
// the two others; the second sender's reaches the others only when it is short enough to
// pass the talker lock that the first one took; nothing comes back to a sender, and the
// unknown address reaches nobody. The talker lock and list cycle are reset between inputs.
#include "server_fixture.h"

#include "app/app_state.h"
#include "audio/relay.h"
#include "audio/station_list.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <cstring>

using testutil::TestStation;

namespace {

const std::string SERVER = "127.70.2.1";
const char* const CONFIG =
    "[callsign]\nuser=*FUZZ*\ndesc=FUZZ\nvalid=PW\n[server]\n1=127.70.2.1\nver=618\n";

struct World {
    testutil::ServerHarness& server;
    TestStation a{"127.70.2.2"};
    TestStation b{"127.70.2.3"};
    TestStation c{"127.70.2.4"};
    TestStation unknown{"127.70.2.5"};
    explicit World(testutil::ServerHarness& s) : server(s) {}
};

World& world() {
    static World* w = nullptr;
    if (w == nullptr) {
        w = new World(fuzzing::startServer(SERVER, CONFIG));
        for (TestStation* s : {&w->a, &w->b, &w->c}) {
            std::vector<uint8_t> name = testutil::namePacket("ST" + s->address().substr(9));
            fuzzing::deliver(s->control, SERVER, CONTROL_PORT, name.data(), name.size());
        }
        fuzzing::require(stationCount == 3 && fuzzing::stationWindowCount() == 3);
    }
    return *w;
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
    talkerHold = 0;
    talkerAddress[0] = '\0';
    listCycle = 0;
    queueCount = 0;

    const bool text = size >= 7 && std::memcmp(data, "oNDATA\r", 7) == 0;
    const bool relayed = size > 0 && size <= AUDIO_BUFFER_SIZE && !text;
    const bool isLong = size >= LONG_DATAGRAM_MIN;

    // The first sender takes the lock with a long datagram; every other station gets it.
    fuzzing::deliver(w.a.audio, SERVER, AUDIO_PORT, data, size);
    if (relayed) {
        fuzzing::expectDatagram(w.b.audio, data, size);
        fuzzing::expectDatagram(w.c.audio, data, size);
        fuzzing::require(!isLong || std::strcmp(talkerAddress, w.a.address().c_str()) == 0);
    }
    // The second sender: a long datagram meets the first sender's lock.
    fuzzing::deliver(w.b.audio, SERVER, AUDIO_PORT, data, size);
    if (relayed && !isLong) {
        fuzzing::expectDatagram(w.a.audio, data, size);
        fuzzing::expectDatagram(w.c.audio, data, size);
    }
    if (relayed && isLong) {
        fuzzing::require(w.server.lastStatus() == "FIREWALL");
    }
    // An address with no station.
    fuzzing::deliver(w.unknown.audio, SERVER, AUDIO_PORT, data, size);
    if (relayed) {
        fuzzing::require(w.server.lastStatus() == "UNREGISTERED DATA");
    }

    fuzzing::require(stationCount == 3 && fuzzing::stationWindowCount() == 3);
    for (TestStation* s : {&w.a, &w.b, &w.c}) {
        const StationRecord* r = fuzzing::stationAt(s->address());
        fuzzing::require(r != nullptr && r->state == STATION_ACTIVE);
    }
    for (TestStation* s : {&w.a, &w.b, &w.c, &w.unknown}) {
        fuzzing::expectNothing(s->audio);
        fuzzing::expectNothing(s->control);
    }
    return 0;
}
