// The real server, started once in the fuzzing process: the main window and its handlers
// on loopback sockets with a manual clock that never moves, so no tick, keep-alive or
// beacon runs between inputs and each input meets the same state. Test stations are
// sockets of the fuzzer. Every check traps, so libFuzzer records the input.
#pragma once

#include "stations/station.h"
#include "support/server_harness.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzzing {

// Stops the run (libFuzzer saves the input) when the condition does not hold.
inline void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

// Starts the server on serverAddress with the configuration text; traps on failure.
testutil::ServerHarness& startServer(const std::string& serverAddress, const std::string& ini);

// Sends the bytes from the peer to the server's port (5198 or 5199) and dispatches messages
// until the server has taken the datagram and nothing is left to do. Bounded in time.
void deliver(testutil::UdpPeer& from, const std::string& server, uint16_t port, const uint8_t* data,
             size_t size);

// Waits up to one second for the next datagram on the peer; traps unless it is exactly
// these bytes.
void expectDatagram(testutil::UdpPeer& peer, const uint8_t* data, size_t size);

// Traps when any datagram is waiting on the peer. The server sends while it dispatches,
// and every datagram it owes a peer has been taken by expectDatagram, so anything left is
// one it should not have sent.
void expectNothing(testutil::UdpPeer& peer);

// The number of station windows among the MDI client's children.
int stationWindowCount();

// The record of the station window at the address (dotted), or null when it has none.
StationRecord* stationAt(const std::string& address);
inline bool hasStation(const std::string& address) {
    return stationAt(address) != nullptr;
}

// Destroys every station window whose address is not in keep, lets the teardowns run,
// and forgets the closed address. Traps unless stationCount equals the windows left.
void closeStationsExcept(const std::vector<std::string>& keep);

} // namespace fuzzing
