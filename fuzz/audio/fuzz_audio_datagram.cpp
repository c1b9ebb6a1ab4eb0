// The audio port's datagram path: each input is sent as one datagram to the real server's
// audio port from each of two admitted stations and from an address with no station, with
// a third station listening. Checked byte for byte: the first sender's datagram reaches
// the two others; the same bytes from the second sender are a loop and reach nobody; a copy
// with its last byte changed reaches the others only when it is short enough to pass the
// talker lock that the first one took; nothing comes back to a sender, and the unknown
// address reaches nobody. The talker lock, list cycle and loop guard are reset between
// inputs.
#include "server_fixture.h"

#include "audio/loop_guard.h"
#include "audio/relay.h"
#include "audio/station_list.h"
#include "base/app_state.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <cstring>
#include <vector>

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
    loopGuardReset();

    auto isText = [](const uint8_t* bytes, size_t n) {
        return n >= 6 && std::memcmp(bytes, "oNDATA", 6) == 0;
    };
    const bool relayed = size > 0 && size <= AUDIO_BUFFER_SIZE && !isText(data, size);
    const bool isLong = size >= LONG_DATAGRAM_MIN;

    // The first sender takes the lock with a long datagram; every other station gets it.
    fuzzing::deliver(w.a.audio, SERVER, AUDIO_PORT, data, size);
    if (relayed) {
        fuzzing::expectDatagram(w.b.audio, data, size);
        fuzzing::expectDatagram(w.c.audio, data, size);
        fuzzing::require(!isLong || std::strcmp(talkerAddress, w.a.address().c_str()) == 0);
    }
    // The second sender: the same bytes are a loop; another datagram of the same length
    // meets the first sender's lock when it is long.
    fuzzing::deliver(w.b.audio, SERVER, AUDIO_PORT, data, size);
    std::vector<uint8_t> other(data, data + size);
    if (size > 0) {
        other.back() ^= 0xFF;
    }
    const bool otherRelayed = size > 0 && size <= AUDIO_BUFFER_SIZE && !isText(other.data(), size);
    fuzzing::deliver(w.b.audio, SERVER, AUDIO_PORT, other.data(), size);
    // The lock is the first sender's when it took it with a long datagram.
    if (otherRelayed && (!isLong || !relayed)) {
        fuzzing::expectDatagram(w.a.audio, other.data(), size);
        fuzzing::expectDatagram(w.c.audio, other.data(), size);
    } else if (otherRelayed) {
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
