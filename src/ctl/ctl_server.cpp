// The control socket's life: where it is, its opening when the server is up, the idle
// clients closed on the tick, and its removal when the server closes.
#include "ctl/ctl_internal.h"
#include "platform/runtime.h"

#include <cstdio>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool configured = false; // main asked for a socket (tests of the server in one process do not)
bool pathGiven = false;  // --control: a socket that cannot be opened stops the start
char socketPath[sizeof(sockaddr_un::sun_path) + 1] = "";
int listenFd = -1;

void onReady(int tag, uint32_t events) {
    if (tag == CTL_TAG_LISTEN) {
        ctlAcceptClients(listenFd);
    } else {
        ctlClientReady(tag, events);
    }
}

} // namespace

void ctlSetServerSocket(const char* path) {
    configured = true;
    pathGiven = path != nullptr && path[0] != '\0';
    if (pathGiven) {
        std::snprintf(socketPath, sizeof socketPath, "%s", path);
    } else if (!ctlDefaultServerPath(socketPath, sizeof socketPath)) {
        socketPath[0] = '\0'; // no runtime directory: no control socket unless --control
    }
}

bool ctlStart(char* why, size_t size) {
    if (!configured || socketPath[0] == '\0' || listenFd >= 0) {
        return true;
    }
    char reason[400];
    listenFd = ctlListen(socketPath, reason, sizeof reason);
    if (listenFd >= 0 && (!ctlPollOpen(onReady) || !ctlPollAdd(listenFd, CTL_TAG_LISTEN, false))) {
        std::snprintf(reason, sizeof reason, "control socket %s: cannot be watched", socketPath);
        ctlPollClose();
        ::close(listenFd);
        ctlUnlinkOwn(socketPath);
        listenFd = -1;
    }
    if (listenFd < 0) {
        if (pathGiven) {
            std::snprintf(why, size, "%s", reason);
            return false;
        }
        char line[480];
        std::snprintf(line, sizeof line, "%s; runtime control is off (--control PATH sets another)",
                      reason);
        platformOperatorLine(line);
        return true;
    }
    ctlEventsStart();
    return true;
}

void ctlStop() {
    if (listenFd < 0) {
        return;
    }
    ctlEventsStop();
    ctlCloseAllClients();
    ctlPollRemove(listenFd);
    ::close(listenFd);
    listenFd = -1;
    ctlPollClose();
    ctlUnlinkOwn(socketPath);
}

void ctlTick() {
    if (listenFd >= 0) {
        ctlCloseIdleClients(ctlNowMs());
    }
}
