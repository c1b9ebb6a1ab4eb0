#include "base/socket_ops.h"

#include "base/app_state.h"
#include "platform/runtime.h"

#include <arpa/inet.h>
#include <cstdio>

namespace {

bool lastFailureWasBind = false; // which step of the last failed openUdpSocket failed

} // namespace

int openUdpSocket(SOCKET* where, int type, uint32_t address, uint16_t port) {
    int result = 0;
    SOCKET s = ws::socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET) {
        result = WSAGetLastError();
        lastFailureWasBind = false;
    }
    if (s != INVALID_SOCKET && (bindOnPortZero != 0 || port != 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = port;
        local.sin_addr.s_addr = address;
        if (ws::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
            result = WSAGetLastError();
            lastFailureWasBind = true;
        }
    }
    if (result != 0) {
        closeSocketHard(s);
        s = INVALID_SOCKET;
    }
    *where = s;
    return result;
}

void reportOpenFailure(uint32_t address, uint16_t port, int error) {
    in_addr where{};
    where.s_addr = address;
    char text[INET_ADDRSTRLEN] = "?";
    inet_ntop(AF_INET, &where, text, sizeof text);
    char line[200];
    std::snprintf(line, sizeof line, "cannot %s %s:%u: %s",
                  lastFailureWasBind ? "bind" : "create a socket for", text,
                  static_cast<unsigned>(ntohs(port)), wsaErrorText(error));
    platformOperatorLine(line);
}

void closeSocketHard(SOCKET s) {
    if (s == INVALID_SOCKET) {
        return;
    }
    LINGER linger{1, 0};
    ws::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger), sizeof linger);
    ws::closesocket(s);
}
