// Interfaces between the pieces of the platform layer. Nothing above the platform
// layer includes this file.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <functional>

namespace platform {

// --- Descriptor watching (message pump) --------------------------------------------
// The pump polls every enabled watched descriptor whenever PeekMessageA, GetMessageA or
// platformDispatchPending runs, and calls its callback when it is readable. GetMessageA
// blocks in poll() until a descriptor is readable or the next timer is due.
using FdReadyFn = std::function<void(int fd)>;
void watchFd(int fd, FdReadyFn onReadable);
void unwatchFd(int fd);
// A disabled descriptor is not polled (an async socket with a notification outstanding).
void enableFd(int fd, bool enabled);
// What poll waits for on a watched descriptor: POLLIN (the default), POLLOUT, both, or 0
// (not polled). The callback runs when one of them, POLLHUP or POLLERR is reported.
void setFdEvents(int fd, short events);
// An idle-only descriptor is polled only when the pump is about to wait (GetMessageA with
// nothing to do, or a poll with a time-out), never by the look that PeekMessageA and
// platformDispatchPending take: work that must never ride on a busy relay.
void setFdIdleOnly(int fd, bool idleOnly);
// Inside a watch callback: the events poll reported for its descriptor.
short readyEvents();
// Runs the before-sleep hooks (platformAddBeforeSleep); called before the pump blocks.
void runBeforeSleep();
// Polls the watched descriptors (waiting up to timeoutMs, 0: not at all) and posts due
// timers.
void pollSources(int timeoutMs);

// --- Front end -------------------------------------------------------------------------
// Draws windows and dialogs and turns input into messages. The minimised front end (the
// default) draws nothing, writes the status line and answers message boxes on stderr.
class FrontEnd {
  public:
    virtual ~FrontEnd() = default;
    // True when modal dialogs can be shown to a person.
    virtual bool canShowDialogs() const = 0;
    // True when every top-level window counts as minimised.
    virtual bool windowsAreIconic() const = 0;
    // A shown top-level window's title changed (only called with a changed text).
    virtual void titleChanged(HWND hwnd, const char* title) = 0;
    virtual void windowShown(HWND hwnd) = 0;
    virtual void windowDestroyed(HWND hwnd) = 0;
    virtual void dialogCreated(HWND dialog) = 0;
    // A modal box; may run platform::runModalLoop until the person answers.
    virtual int messageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
    // Called before the pump blocks: draw what changed.
    virtual void idle() {}
    // A window changed in a way the calls above do not report: a child window's text, or a
    // window hidden.
    virtual void windowChanged(HWND) {}
};
// For the front ends: whether a window is a dialog, made modal (DialogBoxParamA) or not.
enum class DialogMode { None, Modeless, Modal };
DialogMode dialogMode(HWND hwnd);
// Forgets the operator-line hook and the lines kept for the end (platformReset).
void resetOperatorLines();
// nullptr restores the minimised front end.
void setFrontEnd(FrontEnd* frontEnd);
FrontEnd* frontEnd();

// Runs a nested message loop (GetMessageA / dispatch) until done() is true or WM_QUIT
// arrives (which is put back in the queue).
void runModalLoop(const std::function<bool()>& done);

// --- Windows of other programs (desktop registry) --------------------------------------
// A window record that stands for a top-level window of another program.
HWND newRemoteWindow(const char* className);
bool isRemoteWindow(HWND hwnd);
// Called by the window core: announce or withdraw a top-level window of this process.
void desktopAnnounce(HWND hwnd, const char* className);
void desktopWithdraw(HWND hwnd);
// A window of that class announced by another process of this user, or nullptr.
HWND desktopFind(const char* className);
// Requests to another program's window over its announcement socket.
bool desktopIsIconic(HWND remote);
void desktopPost(HWND remote, UINT msg, WPARAM wParam, LPARAM lParam);
void desktopFocus(HWND remote);
// Whether this process announces a window of that class.
bool desktopAnnouncesClass(const char* className);
// Forgets one remote window (closing its connection to the owner), or all of them.
void desktopForgetRemote(HWND remote);
void desktopForgetRemotes();
// Datagrams read from this process's announcement sockets since the last reset (tests
// count with it that a flood is read only while the pump waits).
uint64_t desktopRequestsRead();
// Closes every announcement socket (platformReset).
void desktopReset();

// --- Sockets -----------------------------------------------------------------------------
// Forgets every async registration (platformReset).
void socketsReset();

} // namespace platform
