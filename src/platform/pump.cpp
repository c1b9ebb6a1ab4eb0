// Descriptor watching: the pump polls the enabled watched descriptors and calls the
// callback of each readable one. A callback may watch, unwatch or disable descriptors
// (its own included) and may run a nested message loop; its own descriptor is left out
// of nested polls until it returns.
#include "platform/core.h"
#include "platform/internal.h"

#include <cerrno>
#include <map>
#include <poll.h>
#include <vector>

namespace {

struct Watch {
    platform::FdReadyFn onReadable;
    bool enabled = true;
    bool busy = false;   // its callback is running
    uint64_t serial = 0; // tells a re-watched descriptor from the one polled
};

std::map<int, Watch> watches;
uint64_t nextSerial = 1;

} // namespace

namespace platform {

void watchFd(int fd, FdReadyFn onReadable) {
    Watch& w = watches[fd];
    w.onReadable = std::move(onReadable);
    w.enabled = true;
    w.busy = false;
    w.serial = nextSerial++;
}

void unwatchFd(int fd) {
    watches.erase(fd);
}

void enableFd(int fd, bool enabled) {
    auto it = watches.find(fd);
    if (it != watches.end()) {
        it->second.enabled = enabled;
    }
}

void pollSources(int timeoutMs) {
    postDueTimers();
    deliverPendingSignal();

    std::vector<pollfd> fds;
    std::vector<uint64_t> serials;
    for (const auto& [fd, w] : watches) {
        if (w.enabled && !w.busy) {
            fds.push_back(pollfd{fd, POLLIN, 0});
            serials.push_back(w.serial);
        }
    }
    int ready = 0;
    if (!fds.empty() || timeoutMs != 0) {
        ready = poll(fds.empty() ? nullptr : fds.data(), fds.size(), timeoutMs);
    }
    if (ready > 0) {
        for (size_t i = 0; i < fds.size(); ++i) {
            int fd = fds[i].fd;
            auto it = watches.find(fd);
            if (it == watches.end() || it->second.serial != serials[i]) {
                continue; // unwatched (or replaced) by an earlier callback
            }
            if ((fds[i].revents & POLLNVAL) != 0) {
                it->second.enabled = false; // closed without unwatchFd: stop polling it
                continue;
            }
            if ((fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0 || !it->second.enabled ||
                it->second.busy) {
                continue;
            }
            it->second.busy = true;
            FdReadyFn callback = it->second.onReadable; // the callback may unwatch itself
            callback(fd);
            it = watches.find(fd);
            if (it != watches.end() && it->second.serial == serials[i]) {
                it->second.busy = false;
            }
        }
    }
    if (timeoutMs != 0) {
        postDueTimers();
    }
}

void resetWatches() {
    watches.clear();
}

} // namespace platform
