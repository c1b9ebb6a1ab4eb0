// Runtime control of a running server without its terminal: a Unix stream socket that the
// server opens at start and reads from the platform's pump, and the `confserver ctl` client
// that talks to it. Requests and answers are lines of text:
//   request: one line of at most CTL_REQUEST_MAX bytes: status | stations --json |
//            close STATION | deny STATION | reload | events
//   answer:  "ok" and the answer's lines, or "error TEXT"; then an empty line. After
//            "ok" to events, one line per event-log record follows, for as long as the
//            client stays.
#pragma once

#include <cstddef>

constexpr size_t CTL_REQUEST_MAX = 512; // bytes of a request, without its line end
constexpr int CTL_CLIENTS_MAX = 4;
constexpr int CTL_IDLE_CLOSE_MS = 5000; // a client that sends nothing for this long goes

// --- The server's side ----------------------------------------------------------------
// Where the server opens its socket: path (--control), or, when path is null or empty, the
// default place ($RUNTIME_DIRECTORY/control under systemd, else
// $XDG_RUNTIME_DIR/confserver/control). Until this is called the server opens none.
void ctlSetServerSocket(const char* path);
// The server is up: opens the socket (a missing directory is made with mode 0750, the
// socket has mode 0660; a socket file that no server listens on is replaced). A path given
// with --control that cannot be used is a start error: false, with a one-line reason in
// why. The default place that cannot be used costs one line on standard error and no more.
bool ctlStart(char* why, size_t size);
// The server is closing: every client closed, the socket file removed (when it is still
// the one this server made).
void ctlStop();
// Once per tick: clients that sent nothing for CTL_IDLE_CLOSE_MS are closed (a client that
// follows the events is waiting for the server, never idle).
void ctlTick();

// --- The client ---------------------------------------------------------------------------
// `confserver ctl [--socket PATH] COMMAND [ARGUMENT]`: argc and argv are the words after
// "ctl". Prints the answer on standard output; returns 0 on success, 1 with one line on
// standard error when the server says no or cannot be reached, 2 for a bad command line.
int ctlClientMain(int argc, char** argv);
