// The control packet handler: admits, keeps alive, names and closes stations.
#pragma once

#include "platform/net/winsock.h"
#include "platform/types.h"

// Handles one readiness notification of the control-port socket: reads one datagram and
// acts on it.
void onControlSocket(SOCKET s, WORD event, WORD error);

// Closes the station of window as its BYE does: state '-', the bye told to the monitor,
// WM_CLOSE posted (the window then holds its address off for CLOSED_HOLD_TICKS ticks and
// goes). A window without a station record is left alone.
void controlCloseStation(HWND window);
// The operator denied the station's callsign (panel d, ctl deny) and it is still open: its
// address is held off as a denied station's, then it is closed as above.
void controlCloseDeniedStation(HWND window);
