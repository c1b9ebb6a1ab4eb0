#include "app/app_state.h"
#include "config/config.h"
#include "config/directory.h"
#include "platform/profile.h"
#include "platform/winsock.h"

#include <cstdio>
#include <cstring>

namespace {

// Sends all bytes of one write; false when the send reports an error.
bool sendWrite(SOCKET s, const char* bytes, int length) {
    return ws::send(s, bytes, length, 0) != SOCKET_ERROR;
}

} // namespace

void directorySignOff() {
    char key[12];
    std::snprintf(key, sizeof key, "%d", directoryServerIndex);
    char host[1000];
    GetPrivateProfileStringA("server", key, "FIND", host, sizeof host, CONFIG_FILE);

    SOCKET s = ws::socket(AF_INET, SOCK_STREAM, 0);
    if (s == INVALID_SOCKET) {
        return;
    }
    HOSTENT* entry = ws::gethostbyname(host);
    if (entry == nullptr || entry->h_addr_list == nullptr || entry->h_addr_list[0] == nullptr) {
        ws::closesocket(s);
        return;
    }
    sockaddr_in directory{};
    directory.sin_family = AF_INET;
    directory.sin_port = htons(DIRECTORY_PORT);
    std::memcpy(&directory.sin_addr, entry->h_addr_list[0], sizeof directory.sin_addr);
    if (ws::connect(s, reinterpret_cast<const sockaddr*>(&directory), sizeof directory) ==
        SOCKET_ERROR) {
        ws::closesocket(s);
        return;
    }
    if (!sendWrite(s, "l", 1)) {
        ws::closesocket(s);
        return;
    }
    char user[39];
    char password[39];
    GetPrivateProfileStringA("callsign", "user", "error", user, sizeof user, CONFIG_FILE);
    GetPrivateProfileStringA("callsign", "valid", "vbnoz5", password, sizeof password,
                             CONFIG_FILE);
    char login[80];
    int loginLength = std::snprintf(login, sizeof login, "%s\xAC\xAC%s\r", user, password);
    if (!sendWrite(s, login, loginLength)) {
        ws::closesocket(s);
        return;
    }
    if (!sendWrite(s, "OFF-V3.65C\r", 11)) {
        ws::closesocket(s);
        return;
    }
    char desc[39];
    GetPrivateProfileStringA("callsign", "desc", "NONE", desc, sizeof desc, CONFIG_FILE);
    char line[40];
    int lineLength = std::snprintf(line, sizeof line, "%s\r", desc);
    sendWrite(s, line, lineLength);
    ws::closesocket(s);
}
