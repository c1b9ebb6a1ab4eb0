// The control packet handler: admits, keeps alive, names and closes stations.
#pragma once

#include "platform/types.h"
#include "platform/winsock.h"

// Handles one readiness notification of the control-port socket: reads one datagram and
// acts on it.
void onControlSocket(SOCKET s, WORD event, WORD error);
