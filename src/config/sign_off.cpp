#include "base/app_state.h"
#include "config/config.h"
#include "config/directory.h"
#include "platform/net/winsock.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"

#include <cstdio>
#include <cstring>

namespace {

// Sends all bytes of one write; false when the send reports an error.
bool sendWrite(SOCKET s, const char* bytes, int length) {
    return ws::send(s, bytes, length, 0) != SOCKET_ERROR;
}

// One line on standard error after the sign-off: where it went and whether every write of
// it was delivered (error 0), or why not.
void reportSignOff(const char* host, int error) {
    char line[1100];
    if (error == 0) {
        std::snprintf(line, sizeof line, "signed off from %s:%u", host,
                      static_cast<unsigned>(DIRECTORY_PORT));
    } else {
        std::snprintf(line, sizeof line, "sign-off to %s:%u failed: %s", host,
                      static_cast<unsigned>(DIRECTORY_PORT), wsaErrorText(error));
    }
    platformOperatorLine(line);
}

// Closes the exchange's socket after a failed step and says why it failed.
void abandon(SOCKET s, const char* host) {
    const int error = WSAGetLastError();
    ws::closesocket(s);
    reportSignOff(host, error != 0 ? error : WSAEINVAL);
}

} // namespace

void directorySignOff() {
    char key[12];
    std::snprintf(key, sizeof key, "%d", directoryServerIndex);
    char host[1000];
    GetPrivateProfileStringA("server", key, "FIND", host, sizeof host, CONFIG_FILE);

    SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        reportSignOff(host, WSAGetLastError());
        return;
    }
    HOSTENT* entry = ws::gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        abandon(s, host);
        return;
    }
    sockaddr_in directory{};
    directory.sin_family = AF_INET;
    directory.sin_port = htons(DIRECTORY_PORT);
    std::memcpy(&directory.sin_addr, entry->h_addr_list[0], sizeof directory.sin_addr);
    if (ws::connect(s, reinterpret_cast<const sockaddr*>(&directory), sizeof directory) ==
        SOCKET_ERROR) {
        abandon(s, host);
        return;
    }
    if (!sendWrite(s, "l", 1)) {
        abandon(s, host);
        return;
    }
    char user[39];
    char password[39];
    GetPrivateProfileStringA("callsign", "user", "error", user, sizeof user, CONFIG_FILE);
    GetPrivateProfileStringA("callsign", "valid", "vbnoz5", password, sizeof password, CONFIG_FILE);
    char login[80];
    int loginLength = std::snprintf(login, sizeof login, "%s\xAC\xAC%s\r", user, password);
    if (!sendWrite(s, login, loginLength)) {
        abandon(s, host);
        return;
    }
    if (!sendWrite(s, "OFF-V3.65C\r", 11)) {
        abandon(s, host);
        return;
    }
    char desc[39];
    GetPrivateProfileStringA("callsign", "desc", "NONE", desc, sizeof desc, CONFIG_FILE);
    char line[40];
    int lineLength = std::snprintf(line, sizeof line, "%s\r", desc);
    if (!sendWrite(s, line, lineLength)) {
        abandon(s, host);
        return;
    }
    ws::closesocket(s);
    reportSignOff(host, 0);
}
