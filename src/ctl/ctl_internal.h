// State and steps shared by the files of the control socket's server side and its client:
// one instance, on the server's one thread.
#pragma once

#include "ctl/ctl.h"

#include <cstddef>
#include <cstdint>

// --- Where the socket is (ctl_path.cpp) ----------------------------------------------------
// The server's default place: $RUNTIME_DIRECTORY/control (the first directory it names),
// else $XDG_RUNTIME_DIR/confserver/control. False (out empty) when neither is set.
bool ctlDefaultServerPath(char* out, size_t size);
// The client's default: the server's default when that socket exists, else the packaged
// service's /run/confserver/control.
void ctlDefaultClientPath(char* out, size_t size);

// --- The listening socket (ctl_listen.cpp) -------------------------------------------------
// Opens a non-blocking listening socket at path: its directory made (mode 0750) when
// missing, a socket file that no server listens on replaced, the socket's mode 0660.
// Returns the descriptor, or -1 with a one-line reason in why (path escaped).
int ctlListen(const char* path, char* why, size_t size);
// Removes the socket file at path when it is still the one that ctlListen made.
void ctlUnlinkOwn(const char* path);

// --- The one descriptor the pump watches (ctl_poll.cpp) ----------------------------------
// Every descriptor of the control socket sits in one epoll set whose descriptor the
// platform's pump watches; ready(tag, events) runs for each that is ready. tag is
// CTL_TAG_LISTEN or a client slot.
constexpr int CTL_TAG_LISTEN = -1;
bool ctlPollOpen(void (*ready)(int tag, uint32_t events));
void ctlPollClose();
// Adds fd (readable wanted, and writable when wantWrite) / changes what is wanted / forgets it.
bool ctlPollAdd(int fd, int tag, bool wantWrite);
void ctlPollWant(int fd, int tag, bool wantRead, bool wantWrite);
void ctlPollRemove(int fd);

// --- Clients (ctl_clients.cpp) -------------------------------------------------------------
// Takes every waiting connection: a peer that is not root, the server's user or a member of
// its group, and one beyond CTL_CLIENTS_MAX, gets one error line and is closed.
void ctlAcceptClients(int listenFd);
// A client's descriptor is ready: reads requests and answers them, writes what waits.
void ctlClientReady(int slot, uint32_t events);
// Appends bytes to what waits for the client and writes what it can without waiting; a
// client whose waiting output would pass its bound is closed. False when it is gone.
bool ctlClientSend(int slot, const char* bytes, size_t length);
// True for a client that asked to follow the event log.
bool ctlClientFollowing(int slot);
// Closes clients idle since CTL_IDLE_CLOSE_MS before nowMs (monotonic ms); all of them.
void ctlCloseIdleClients(int64_t nowMs);
void ctlCloseAllClients();
// Monotonic milliseconds (real time: a control client's patience does not scale).
int64_t ctlNowMs();

// --- Answers (ctl_commands.cpp) ------------------------------------------------------------
constexpr size_t CTL_ANSWER_MAX = 60 * 1024;
struct CtlAnswer {
    size_t length;
    bool full; // a line did not fit: the answer is an error
    char text[CTL_ANSWER_MAX];
};
// Appends one line of the answer's body (its line end added; an empty line is written as
// "-", so that only the answer's end is an empty line).
void ctlAnswerLine(CtlAnswer* answer, const char* line);
// Runs one request (length bytes, without its line end) and writes the whole framed answer
// ("ok", body, empty line; or "error TEXT", empty line). *follow becomes true for events.
void ctlRunRequest(const char* request, size_t length, CtlAnswer* answer, bool* follow);

// --- The commands (one file each) ----------------------------------------------------------
// status: the server line, then one line per station as the terminal's panel shows it.
void ctlStatus(CtlAnswer* answer);
// close / deny STATION (a callsign, without regard to case, or an address): as the panel's
// c and d do. True with one body line, or false with the error text in error.
bool ctlCloseStation(const char* station, CtlAnswer* answer, char* error, size_t size);
bool ctlDenyStation(const char* station, CtlAnswer* answer, char* error, size_t size);
// events: the event log's records go to the following clients from ctlEventsStart on.
void ctlEventsStart();
void ctlEventsStop();
