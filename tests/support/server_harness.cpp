#include "server_harness.h"

#include "access/access.h"
#include "app/startup.h"
#include "audio/limits.h"
#include "audio/loop_guard.h"
#include "audio/relay.h"
#include "audio/station_list.h"
#include "base/address_guard.h"
#include "base/app_state.h"
#include "config/account.h"
#include "control/rtcp.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "resources/resources.h"
#include "stations/refusal_hold.h"
#include "stations/station.h"

#include <arpa/inet.h>
#include <chrono>
#include <cstring>
#include <thread>

namespace testutil {

namespace {

std::vector<std::string> statusLog;
std::vector<std::string> boxLog;

void onStatus(const char* text) {
    statusLog.emplace_back(text);
}

int onBox(HWND, const char* text, const char* caption, UINT) {
    boxLog.push_back(std::string(caption ? caption : "") + "|" + (text ? text : ""));
    return IDOK;
}

// The station set's index of the station at address (dotted) and port 5198, or -1.
int stationIndexAt(const std::string& address) {
    sockaddr_in key{};
    key.sin_family = AF_INET;
    key.sin_port = htons(AUDIO_PORT);
    inet_pton(AF_INET, address.c_str(), &key.sin_addr);
    return findStation(&key);
}

} // namespace

void resetServerState() {
    appStateReset();
    stationsReset();
    relayReset();
    limitsReset();
    loopGuardReset();
    refusalHoldReset();
    addressGuardReset();
    releaseControlPackets();
    accessReset();
    monitorReset();
    linksReset();
}

StationRecord* recordAt(const std::string& address) {
    const int at = stationIndexAt(address);
    return at >= 0 ? stationSet.records[at] : nullptr;
}

const MonitorStation* monitorStationOf(const std::string& address) {
    return monitorStationAt(stationIndexAt(address));
}

HWND openAccountDialog(const char* name, const char* desc, const char* password) {
    HWND dialog = CreateDialogParamA(programInstance(), MAKEINTRESOURCEA(DIALOG_ACCOUNT), nullptr,
                                     accountDialogProc, 0);
    SetDlgItemTextA(dialog, IDC_SERVER_NAME, name);
    SetDlgItemTextA(dialog, IDC_DESCRIPTION, desc);
    SetDlgItemTextA(dialog, IDC_PASSWORD, password);
    return dialog;
}

std::vector<HWND> walkStationWindows(bool withRecordOnly) {
    std::vector<HWND> windows;
    if (mdiClient == nullptr) {
        return windows;
    }
    for (HWND c = GetWindow(mdiClient, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        if (isStationWindow(c) && (!withRecordOnly || stationRecordOf(c) != nullptr)) {
            windows.push_back(c);
        }
    }
    return windows;
}

ServerHarness::ServerHarness(const std::string& serverAddress, const std::string& ini)
    : address_(serverAddress), configPath_(dir_.file("omvarc.ini")) {
    testutil::resetPlatform();
    resetServerState();
    statusLog.clear();
    boxLog.clear();
    writeFile(configPath_, ini);
    platformSetProfileFile("omvarc.ini", configPath_.c_str());
    // A directory server entry that the test does not name would be looked up by name
    // ("FIND"): point it at a loopback address where nothing listens instead.
    for (const char* key : {"1", "2", "3", "4"}) {
        char value[8];
        if (GetPrivateProfileStringA("server", key, "", value, sizeof value, "omvarc.ini") == 0) {
            WritePrivateProfileStringA("server", key, "127.0.0.1", "omvarc.ini");
        }
    }
    platformUseManualClock(1000000);
    platformSetStatusHook(onStatus);
    platformSetMessageBoxHook(onBox);
    in_addr a{};
    inet_pton(AF_INET, serverAddress.c_str(), &a);
    bindAddress = a.s_addr;
}

ServerHarness::~ServerHarness() {
    if (running()) {
        close();
    }
    testutil::resetPlatform();
    resetServerState();
}

bool ServerHarness::start() {
    if (!initApplication(programInstance())) {
        return false;
    }
    started_ = createMainWindow(programInstance(), SW_SHOWMINIMIZED);
    return started_;
}

void ServerHarness::pump(int idleRoundsMs) {
    int idle = 0;
    for (int round = 0; round < 100000 && idle < idleRoundsMs; ++round) {
        if (platformDispatchPending(100000) == 0) {
            ++idle;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            idle = 0;
        }
    }
}

void ServerHarness::advance(uint32_t ms) {
    while (ms > 0) {
        uint32_t step = ms > 500 ? 500 : ms;
        platformAdvanceClock(step);
        ms -= step;
        pump(3);
    }
}

void ServerHarness::tick(int count) {
    for (int i = 0; i < count; ++i) {
        advance(1000);
    }
}

void ServerHarness::close() {
    if (mainWindow != nullptr && IsWindow(mainWindow)) {
        PostMessageA(mainWindow, WM_CLOSE, 0, 0);
    }
    pump(3);
    started_ = false;
}

bool ServerHarness::running() const {
    return started_ && mainWindow != nullptr && IsWindow(mainWindow);
}

std::vector<std::string> ServerHarness::statusLines() const {
    return statusLog;
}

std::string ServerHarness::lastStatus() const {
    return statusLog.empty() ? "" : statusLog.back();
}

void ServerHarness::clearStatus() {
    statusLog.clear();
}

std::vector<std::string> ServerHarness::boxes() const {
    return boxLog;
}

TestStation::TestStation(const std::string& address)
    : audio(address, 5198), control(address, 5199), address_(address) {}

void TestStation::sendControl(const std::string& server, const std::vector<uint8_t>& bytes) {
    control.sendTo(server, 5199, bytes);
}

void TestStation::sendAudio(const std::string& server, const std::vector<uint8_t>& bytes) {
    audio.sendTo(server, 5198, bytes);
}

std::vector<uint8_t> emptyReceiverReport() {
    return {0xC0, 0xC9, 0x00, 0x01, 1, 2, 3, 4};
}

std::vector<uint8_t>
receiverReportWithSdes(const std::vector<std::pair<uint8_t, std::string>>& items) {
    std::vector<uint8_t> sdes = {0xC1, 0xCA, 0, 0, 1, 2, 3, 4};
    for (const auto& [type, text] : items) {
        sdes.push_back(type);
        sdes.push_back(static_cast<uint8_t>(text.size()));
        sdes.insert(sdes.end(), text.begin(), text.end());
    }
    sdes.push_back(0);
    while (sdes.size() % 4 != 0) {
        sdes.push_back(0);
    }
    size_t words = sdes.size() / 4 - 1;
    sdes[2] = static_cast<uint8_t>(words >> 8);
    sdes[3] = static_cast<uint8_t>(words & 0xFF);
    std::vector<uint8_t> packet = emptyReceiverReport();
    packet.insert(packet.end(), sdes.begin(), sdes.end());
    return packet;
}

std::vector<uint8_t> receiverReportWithBye() {
    std::vector<uint8_t> packet = emptyReceiverReport();
    std::vector<uint8_t> bye = {0xC1, 0xCB, 0x00, 0x01, 1, 2, 3, 4};
    packet.insert(packet.end(), bye.begin(), bye.end());
    return packet;
}

std::vector<uint8_t> namePacket(const std::string& name) {
    return receiverReportWithSdes({{2, name}});
}

} // namespace testutil
