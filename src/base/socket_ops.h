// The program's socket operations: opening a UDP socket and closing one abortively.
#pragma once

#include "platform/net/winsock.h"

#include <cstdint>

// Creates a socket of the type, binds it to address:port (network order) unless the port is
// 0 and the bind-on-port-0 switch is off, and stores it (or INVALID_SOCKET) in *where.
// Returns 0 on success or the socket error code.
int openUdpSocket(SOCKET* where, int type, uint32_t address, uint16_t port);

// Tells the operator, in one line on standard error, what the last failed openUdpSocket for
// address:port (network order) could not do and why: "cannot bind 127.0.0.1:5198: Address
// already in use", or "cannot create a socket for ...".
void reportOpenFailure(uint32_t address, uint16_t port, int error);

// Closes a socket at once, discarding unsent data (linger on, time-out 0); an invalid socket
// is left alone.
void closeSocketHard(SOCKET s);
