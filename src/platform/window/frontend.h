// The interface between the window core and a front end: the front end draws windows and
// dialogs and turns input into messages; the window core tells it what changed. The
// platform knows no front end by name: the program installs the one it chooses. Until it
// does, nothing is drawn or written and a message box is answered as nobody being there.
#pragma once

#include "platform/types.h"

#include <functional>

namespace platform {

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
    // A modal box; may run a nested message loop until the person answers.
    virtual int messageBox(HWND owner, const char* text, const char* caption, UINT type) = 0;
    // A window changed in a way the calls above do not report: a child window's text, or a
    // window hidden.
    virtual void windowChanged(HWND) {}
};

// The answer to a message box of type when nobody is there to answer: OK alone is answered
// OK, a question No or Cancel, so nothing goes ahead unasked.
int unattendedAnswer(UINT type);

// For the front ends: whether a window is a dialog, made modal (DialogBoxParamA) or not.
enum class DialogMode { None, Modeless, Modal };
DialogMode dialogMode(HWND hwnd);

// Installs the front end (not owned); nullptr: none.
void setFrontEnd(FrontEnd* frontEnd);
// The installed front end, or the platform's own that shows nothing when none is.
FrontEnd* frontEnd();
// The status hook set by tests, or nullptr.
using StatusHook = void (*)(const char* text);
StatusHook statusHook();

// --- What the loop offers a front end (loop/) ---
// Calls fn once from the pump, delayMs from now (0: at the next look); setting the same fn
// again moves its time. Not a window timer: no message is posted, and the delay is not
// divided by the time scale (it paces work for a person). Work for when the pump is about
// to sleep is a before-sleep hook (platformAddBeforeSleep).
void callAfter(void (*fn)(), UINT delayMs);
void cancelCall(void (*fn)());
// Runs a nested message loop (GetMessageA / dispatch) until done() is true or WM_QUIT
// arrives (which is put back in the queue).
void runModalLoop(const std::function<bool()>& done);
// Calls handler from the pump after each SIGWINCH (the terminal was resized); false when
// the signal pipe cannot be made.
bool watchResizeSignal(void (*handler)());

} // namespace platform
