// A program held up in its start-up, for the tests of what a signal does then.
//
//   startup_hold at-once   a signal ends it from the handler, while it waits in a read
//                          that never returns (as in a slow open)
//   startup_hold pump      a signal ends it from the pump, while it waits for messages and
//                          no window exists (as in a modal box of start-up)
//   startup_hold pending   a signal caught before start-up's action is set ends it as soon
//                          as the action is set
//
// Prints "ready" when it is about to wait. Exit code 0 when a signal ended it as it should,
// 3 when it went on past the point where the signal should have ended it.
#include "platform/runtime.h"
#include "platform/window/window.h"

#include <csignal>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "at-once") == 0) {
        platformSetSignalAction(SIGNALS_END_PROCESS_AT_ONCE);
        platformInstallSignalHandlers();
        int fds[2];
        if (pipe(fds) != 0) {
            return 1;
        }
        std::printf("ready\n");
        std::fflush(stdout);
        char byte;
        // Restarted after each signal (SA_RESTART); only the handler's exit ends it.
        ssize_t n = read(fds[0], &byte, 1);
        (void)n;
        return 3;
    }
    if (std::strcmp(mode, "pump") == 0) {
        platformInstallSignalHandlers();
        platformSetSignalAction(SIGNALS_END_PROCESS);
        std::printf("ready\n");
        std::fflush(stdout);
        MSG msg{};
        GetMessageA(&msg, nullptr, 0, 0); // nothing posts: only the signal ends the wait
        return 3;
    }
    if (std::strcmp(mode, "pending") == 0) {
        platformInstallSignalHandlers();
        raise(SIGTERM); // no window: it waits
        std::printf("ready\n");
        std::fflush(stdout);
        platformSetSignalAction(SIGNALS_END_PROCESS);
        return 3;
    }
    std::fprintf(stderr, "usage: startup_hold at-once|pump|pending\n");
    return 1;
}
