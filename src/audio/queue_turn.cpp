#include "audio/relay.h"
#include "platform/window/window.h"

namespace {

// When the turn was last taken. Renewing it on every turn keeps turns from nesting more than
// one deep: the relay runs dispatched from a turn do not take one of their own.
DWORD queueTurnReference = 0;

// Bound on the messages one turn dispatches, so that the datagram that took the turn is
// handled without waiting for a flood to end.
constexpr int QUEUE_TURN_MAX_MESSAGES = 256;

} // namespace

void queueTurnReset() {
    queueTurnReference = 0;
}

void queueTurn() {
    DWORD now = GetTickCount();
    if (static_cast<DWORD>(now - queueTurnReference) <= QUEUE_TURN_MS) {
        return;
    }
    queueTurnReference = now;
    MSG msg{};
    for (int i = 0; i < QUEUE_TURN_MAX_MESSAGES && PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE);
         ++i) {
        if (msg.message == WM_QUIT) {
            // The message loop must still see it.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        DispatchMessageA(&msg);
    }
}
