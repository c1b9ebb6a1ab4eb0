// Descriptor watching: the pump polls the enabled watched descriptors and calls the
// callback of each readable one. A callback may watch, unwatch or disable descriptors
// (its own included) and may run a nested message loop; its own descriptor is left out
// of nested polls until it returns.
#include "platform/core.h"
#include "platform/internal.h"

#include <cerrno>
#include <map>
#include <memory>
#include <poll.h>
#include <vector>

namespace {

struct Watch {
    std::shared_ptr<platform::FdReadyFn> onReadable;
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
    w.onReadable = std::make_shared<FdReadyFn>(std::move(onReadable));
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

    // The descriptors to poll, on the stack for the usual handful; the pump runs for
    // every Peek, so it does not allocate then.
    constexpr size_t kInline = 16;
    pollfd inlineFds[kInline];
    uint64_t inlineSerials[kInline];
    std::vector<pollfd> moreFds;
    std::vector<uint64_t> moreSerials;
    size_t count = 0;
    for (const auto& [fd, w] : watches) {
        count += (w.enabled && !w.busy) ? 1 : 0;
    }
    pollfd* fds = inlineFds;
    uint64_t* serials = inlineSerials;
    if (count > kInline) {
        moreFds.resize(count);
        moreSerials.resize(count);
        fds = moreFds.data();
        serials = moreSerials.data();
    }
    size_t n = 0;
    for (const auto& [fd, w] : watches) {
        if (w.enabled && !w.busy) {
            fds[n] = pollfd{fd, POLLIN, 0};
            serials[n] = w.serial;
            ++n;
        }
    }
    int ready = 0;
    if (n != 0 || timeoutMs != 0) {
        ready = poll(n != 0 ? fds : nullptr, n, timeoutMs);
    }
    for (size_t i = 0; ready > 0 && i < n; ++i) {
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
        // Held by a second reference: the callback may unwatch or re-watch its descriptor.
        std::shared_ptr<FdReadyFn> callback = it->second.onReadable;
        (*callback)(fd);
        it = watches.find(fd);
        if (it != watches.end() && it->second.serial == serials[i]) {
            it->second.busy = false;
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
