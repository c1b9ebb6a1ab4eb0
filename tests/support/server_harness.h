// Runs the real server in the test process: the main window with its handlers on real
// loopback sockets, a manual clock, the status line and message boxes captured.
#pragma once

#include "platform/types.h"
#include "testutil.h"

#include <cstdint>
#include <string>
#include <vector>

struct StationRecord;
struct MonitorStation;

namespace testutil {

// Puts every process-wide variable of the server back to its value at program start.
void resetServerState();

// The record of the station at address (dotted) and port 5198 as the server's lookup finds
// it, or null.
StationRecord* recordAt(const std::string& address);
// What the monitor keeps of the station at address (dotted) and port 5198, or null.
const MonitorStation* monitorStationOf(const std::string& address);
// The station windows among the MDI client's children in window order (the walk the station
// set stands for), and those of them that hold a record.
std::vector<HWND> walkStationWindows(bool withRecordOnly);
// Opens the account dialog (modeless) with its three fields filled; null when it cannot.
HWND openAccountDialog(const char* name, const char* desc, const char* password);
// How many station windows the MDI client has (with a record or not).
inline int stationWindows() {
    return static_cast<int>(walkStationWindows(false).size());
}

class ServerHarness {
  public:
    // serverAddress: the 127.x.y.z address of the server's two listening sockets.
    // ini: the configuration file's content (a first run is avoided unless it asks for one).
    ServerHarness(const std::string& serverAddress, const std::string& ini);
    ~ServerHarness();
    ServerHarness(const ServerHarness&) = delete;
    ServerHarness& operator=(const ServerHarness&) = delete;

    // Runs start-up as the program does (initialisation, main window); false on failure.
    bool start();
    // Dispatches what is waiting, waiting a little for datagrams in flight; bounded.
    void pump(int idleRoundsMs = 15);
    // Moves the manual clock by ms in steps of at most 500 ms, pumping after each step.
    void advance(uint32_t ms);
    // One TIMER_TICK (1000 ms) and what it causes.
    void tick(int count = 1);
    // Closes the server the way EXIT does and runs until the quit message.
    void close();
    bool running() const;

    const std::string& address() const { return address_; }
    const std::string& configPath() const { return configPath_; }
    // Status texts in the order set (equal consecutive texts written once).
    std::vector<std::string> statusLines() const;
    std::string lastStatus() const;
    void clearStatus();
    // Message boxes shown, as "caption|text".
    std::vector<std::string> boxes() const;

  private:
    TempDir dir_;
    std::string address_;
    std::string configPath_;
    bool started_ = false;
};

// A station played by the test: two sockets bound to address:5198 and address:5199.
class TestStation {
  public:
    explicit TestStation(const std::string& address);
    const std::string& address() const { return address_; }
    UdpPeer audio;
    UdpPeer control;
    // Sends to the server's control port from port 5199 (or from the audio socket).
    void sendControl(const std::string& server, const std::vector<uint8_t>& bytes);
    // Sends to the server's audio port from port 5198.
    void sendAudio(const std::string& server, const std::vector<uint8_t>& bytes);

  private:
    std::string address_;
};

// Control packets a station sends.
std::vector<uint8_t> emptyReceiverReport();
// RR followed by an SDES packet with one chunk holding the given items (type, text).
std::vector<uint8_t>
receiverReportWithSdes(const std::vector<std::pair<uint8_t, std::string>>& items);
// RR followed by a BYE packet.
std::vector<uint8_t> receiverReportWithBye();
// RR with SDES NAME, the usual naming packet.
std::vector<uint8_t> namePacket(const std::string& name);

} // namespace testutil
