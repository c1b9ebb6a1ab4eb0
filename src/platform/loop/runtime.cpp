// Back to a clean platform between tests.
#include "platform/runtime.h"
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/net/batch_send.h"
#include "platform/net/winsock_internal.h"
#include "platform/stream/output_stream.h"
#include "platform/window/window_table.h"

void platformReset() {
    // Window procedures run while their windows are destroyed, so everything they may
    // touch (queue, timers, hooks, front end) is cleared only afterwards.
    platform::resetWindows();
    platform::desktopReset();
    platform::socketsReset();
    sendBatchClose();
    platform::resetQueue();
    platform::resetTimers();
    platform::resetWatches();
    platform::resetSignals();
    platform::resetDialogs();
    platform::resetGdi();
    platform::resetFrontEnd();
    platform::resetOperatorLines();
    platform::resetClock();
}
