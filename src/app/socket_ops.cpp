#include "app/socket_ops.h"

#include "app/app_state.h"

int openUdpSocket(SOCKET* where, int type, uint32_t address, uint16_t port) {
    int result = 0;
    SOCKET s = ws::socket(AF_INET, type, 0);
    if (s == INVALID_SOCKET) {
        result = WSAGetLastError();
    }
    if (s != INVALID_SOCKET && (bindOnPortZero != 0 || port != 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = port;
        local.sin_addr.s_addr = address;
        if (ws::bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR) {
            result = WSAGetLastError();
        }
    }
    if (result != 0) {
        closeSocketHard(s);
        s = INVALID_SOCKET;
    }
    *where = s;
    return result;
}

void closeSocketHard(SOCKET s) {
    if (s == INVALID_SOCKET) {
        return;
    }
    LINGER linger{1, 0};
    ws::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&linger),
                   sizeof linger);
    ws::closesocket(s);
}
