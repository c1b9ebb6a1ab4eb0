#include "server_fixture.h"

#include "base/app_state.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>

namespace fuzzing {

namespace {

// True when the descriptor has a datagram waiting, after waiting up to timeoutMs.
bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0 && (p.revents & POLLIN) != 0;
}

testutil::ServerHarness* server = nullptr;

// Closes the server the way EXIT does before the process ends, so that every station
// record is released and the leak check at exit sees nothing left.
void stopServer() {
    delete server;
    server = nullptr;
}

} // namespace

testutil::ServerHarness& startServer(const std::string& serverAddress, const std::string& ini) {
    require(server == nullptr);
    server = new testutil::ServerHarness(serverAddress, ini);
    require(server->start());
    std::atexit(stopServer);
    return *server;
}

void deliver(testutil::UdpPeer& from, const std::string& server, uint16_t port, const uint8_t* data,
             size_t size) {
    const int serverSocket = port == AUDIO_PORT ? audioPortSocket : controlPortSocket;
    std::vector<uint8_t> bytes(data, data + size);
    require(from.sendTo(server, port, bytes));
    require(readable(serverSocket, 1000));
    for (int round = 0; round < 1000; ++round) {
        const int dispatched = platformDispatchPending(100000);
        if (dispatched == 0 && !readable(serverSocket, 0)) {
            return;
        }
    }
    require(false);
}

void expectDatagram(testutil::UdpPeer& peer, const uint8_t* data, size_t size) {
    std::vector<uint8_t> got;
    require(peer.receive(got, 1000));
    require(got.size() == size && (size == 0 || std::memcmp(got.data(), data, size) == 0));
}

void expectNothing(testutil::UdpPeer& peer) {
    require(!readable(peer.fd(), 0));
}

int stationWindowCount() {
    return testutil::stationWindows();
}

StationRecord* stationAt(const std::string& address) {
    return testutil::recordAt(address);
}

void closeStationsExcept(const std::vector<std::string>& keep) {
    std::vector<HWND> doomed;
    for (HWND c = GetWindow(mdiClient, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        StationRecord* record = isStationWindow(c) ? stationRecordOf(c) : nullptr;
        if (record == nullptr) {
            continue;
        }
        bool kept = false;
        for (const std::string& address : keep) {
            kept = kept || address == record->addressText;
        }
        if (!kept) {
            doomed.push_back(c);
        }
    }
    for (HWND window : doomed) {
        SendMessageA(mdiClient, WM_MDIDESTROY, reinterpret_cast<WPARAM>(window), 0);
    }
    for (int round = 0; round < 100 && platformDispatchPending(100000) > 0; ++round) {
    }
    closedAddress = 0;
    closedHoldTicks = 0;
    require(stationWindowCount() == static_cast<int>(keep.size()));
    require(stationCount == stationWindowCount());
}

} // namespace fuzzing
