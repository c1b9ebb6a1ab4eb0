// Descriptor watching: the pump polls the enabled watched descriptors for the events
// each one asks for (readable unless told otherwise) and calls the callback of each
// ready one; before it blocks it runs the before-sleep hooks. A callback may watch, unwatch or
// disable descriptors (its own included) and may run a nested message loop; its own descriptor is
// left out of nested polls until it returns. An idle-only descriptor is polled only by a poll
// that may wait, so nothing it brings rides on the look that every Peek takes.
#include "platform/loop/loop.h"
#include "platform/runtime.h"

#include <cerrno>
#include <memory>
#include <poll.h>
#include <vector>

namespace {

struct Watch {
    int fd = -1;
    std::shared_ptr<platform::FdReadyFn> onReadable;
    short events = POLLIN; // what poll waits for; POLLHUP and POLLERR always wake it
    bool enabled = true;
    bool idleOnly = false; // polled only when the pump is about to wait
    bool busy = false;     // its callback is running
    uint64_t serial = 0;   // tells a re-watched descriptor from the one polled
};

// The watched descriptors in ascending order (the order they are polled and called in).
// A handful of them: a plain vector searched from the front beats a tree.
std::vector<Watch> watches;
uint64_t nextSerial = 1;
short currentRevents = 0; // what poll reported for the callback that is running

Watch* findWatch(int fd) {
    for (Watch& w : watches) {
        if (w.fd == fd) {
            return &w;
        }
    }
    return nullptr;
}

struct BeforeSleep {
    void (*fn)(void*) = nullptr;
    void* context = nullptr;
};
constexpr int kMaxBeforeSleep = 4;
BeforeSleep beforeSleep[kMaxBeforeSleep];

} // namespace

namespace platform {

void watchFd(int fd, FdReadyFn onReadable) {
    Watch* w = findWatch(fd);
    if (w == nullptr) {
        auto at = watches.begin();
        while (at != watches.end() && at->fd < fd) {
            ++at;
        }
        w = &*watches.insert(at, Watch{});
        w->fd = fd;
    }
    w->onReadable = std::make_shared<FdReadyFn>(std::move(onReadable));
    w->events = POLLIN;
    w->enabled = true;
    w->idleOnly = false;
    w->busy = false;
    w->serial = nextSerial++;
}

void setFdEvents(int fd, short events) {
    if (Watch* w = findWatch(fd)) {
        w->events = events;
    }
}

short readyEvents() {
    return currentRevents;
}

void runBeforeSleep() {
    for (const BeforeSleep& b : beforeSleep) {
        if (b.fn != nullptr) {
            b.fn(b.context);
        }
    }
}

void setFdIdleOnly(int fd, bool idleOnly) {
    if (Watch* w = findWatch(fd)) {
        w->idleOnly = idleOnly;
    }
}

void unwatchFd(int fd) {
    std::erase_if(watches, [fd](const Watch& w) { return w.fd == fd; });
}

void enableFd(int fd, bool enabled) {
    if (Watch* w = findWatch(fd)) {
        w->enabled = enabled;
    }
}

void pollSources(int timeoutMs) {
    postDueTimers();
    deliverPendingSignal();

    // The descriptors to poll, gathered in one pass, on the stack for the usual handful;
    // the pump runs for every Peek, so it does not allocate then.
    constexpr size_t kInline = 16;
    pollfd inlineFds[kInline];
    uint64_t inlineSerials[kInline];
    std::vector<pollfd> moreFds;
    std::vector<uint64_t> moreSerials;
    const bool waiting = timeoutMs != 0;
    size_t n = 0;
    for (const Watch& w : watches) {
        if (!w.enabled || w.busy || w.events == 0 || (!waiting && w.idleOnly)) {
            continue;
        }
        if (n < kInline) {
            inlineFds[n] = pollfd{w.fd, w.events, 0};
            inlineSerials[n] = w.serial;
        } else {
            if (n == kInline) {
                moreFds.assign(inlineFds, inlineFds + kInline);
                moreSerials.assign(inlineSerials, inlineSerials + kInline);
            }
            moreFds.push_back(pollfd{w.fd, w.events, 0});
            moreSerials.push_back(w.serial);
        }
        ++n;
    }
    pollfd* fds = n > kInline ? moreFds.data() : inlineFds;
    uint64_t* serials = n > kInline ? moreSerials.data() : inlineSerials;
    int ready = 0;
    if (n != 0 || timeoutMs != 0) {
        ready = poll(n != 0 ? fds : nullptr, n, timeoutMs);
    }
    for (size_t i = 0; ready > 0 && i < n; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        --ready;
        const int fd = fds[i].fd;
        Watch* w = findWatch(fd);
        if (w == nullptr || w->serial != serials[i]) {
            continue; // unwatched (or replaced) by an earlier callback
        }
        if ((fds[i].revents & POLLNVAL) != 0) {
            w->enabled = false; // closed without unwatchFd: stop polling it
            continue;
        }
        short wanted = static_cast<short>(w->events | POLLHUP | POLLERR);
        if ((fds[i].revents & wanted) == 0 || !w->enabled || w->busy) {
            continue;
        }
        w->busy = true;
        // Held by a second reference: the callback may unwatch or re-watch its descriptor.
        std::shared_ptr<FdReadyFn> callback = w->onReadable;
        short saved = currentRevents;
        currentRevents = fds[i].revents;
        (*callback)(fd);
        currentRevents = saved;
        w = findWatch(fd);
        if (w != nullptr && w->serial == serials[i]) {
            w->busy = false;
        }
    }
    if (timeoutMs != 0) {
        postDueTimers();
    }
}

void resetWatches() {
    watches.clear();
    for (BeforeSleep& b : beforeSleep) {
        b = BeforeSleep{};
    }
}

} // namespace platform

void platformWatchDescriptor(int fd, short events,
                             void (*ready)(int fd, short revents, void* context), void* context) {
    platform::watchFd(fd,
                      [ready, context](int readyFd) { ready(readyFd, currentRevents, context); });
    platform::setFdEvents(fd, events);
}

void platformSetDescriptorEvents(int fd, short events) {
    platform::setFdEvents(fd, events);
}

void platformUnwatchDescriptor(int fd) {
    platform::unwatchFd(fd);
}

bool platformAddBeforeSleep(void (*fn)(void* context), void* context) {
    for (BeforeSleep& b : beforeSleep) {
        if (b.fn == nullptr) {
            b.fn = fn;
            b.context = context;
            return true;
        }
    }
    return false;
}

void platformRemoveBeforeSleep(void (*fn)(void* context), void* context) {
    for (BeforeSleep& b : beforeSleep) {
        if (b.fn == fn && b.context == context) {
            b = BeforeSleep{};
        }
    }
}
