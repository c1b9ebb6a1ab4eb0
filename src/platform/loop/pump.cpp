// Descriptor watching (see loop.h) and the before-sleep hooks. A callback may watch, unwatch or
// disable descriptors (its own included) and may run a nested message loop; its own descriptor is
// left out of nested polls until it returns.
#include "platform/loop/loop.h"
#include "platform/runtime.h"

#include <cerrno>
#include <poll.h>
#include <utility>
#include <vector>

namespace {

struct Watch {
    int fd = -1;
    platform::FdReadyFn onReadable; // empty while it runs
    short events = POLLIN;          // what poll waits for; POLLHUP and POLLERR always wake it
    bool enabled = true;
    bool idleOnly = false; // polled only when the pump is about to wait
    UINT postsFirst = 0;   // the messages its callback may post: system ones unless told
    UINT postsLast = WM_USER - 1;
    uint64_t serial = 0; // tells a re-watched descriptor from the one polled
};

// The watched descriptors in ascending order (the order they are polled and called in).
// A handful of them: a plain vector searched from the front beats a tree.
std::vector<Watch> watches;
uint64_t nextSerial = 1;
// The descriptors being polled and their watches' serials, nested polls stacked above outer
// ones; they keep their capacity, so the pump allocates nothing once it has polled as many.
std::vector<pollfd> polled;
std::vector<uint64_t> polledSerials;
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
    }
    *w = Watch{};
    w->fd = fd;
    w->onReadable = std::move(onReadable);
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

void setFdPosts(int fd, UINT first, UINT last) {
    if (Watch* w = findWatch(fd)) {
        w->postsFirst = first;
        w->postsLast = last;
    }
}

bool sourcesMayPost(UINT filterMin, UINT filterMax) {
    for (const Watch& w : watches) {
        if (w.enabled && w.onReadable && w.events != 0 && !w.idleOnly &&
            w.postsFirst <= filterMax && filterMin <= w.postsLast) {
            return true;
        }
    }
    return false;
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
    const size_t base = polled.size();
    for (const Watch& w : watches) {
        if (w.enabled && w.onReadable && w.events != 0 && (timeoutMs != 0 || !w.idleOnly)) {
            polled.push_back(pollfd{w.fd, w.events, 0});
            polledSerials.push_back(w.serial);
        }
    }
    const size_t n = polled.size() - base;
    int ready = 0;
    if (n != 0 || timeoutMs != 0) {
        ready = poll(n != 0 ? &polled[base] : nullptr, n, timeoutMs);
    }
    for (size_t i = base; ready > 0 && i < base + n; ++i) {
        const pollfd p = polled[i];
        const uint64_t serial = polledSerials[i];
        if (p.revents == 0) {
            continue;
        }
        --ready;
        Watch* w = findWatch(p.fd);
        if (w == nullptr || w->serial != serial) {
            continue; // unwatched (or replaced) by an earlier callback
        }
        if ((p.revents & POLLNVAL) != 0) {
            w->enabled = false; // closed without unwatchFd: stop polling it
            continue;
        }
        const short wanted = static_cast<short>(w->events | POLLHUP | POLLERR);
        if ((p.revents & wanted) == 0 || !w->enabled || !w->onReadable) {
            continue;
        }
        // Taken out while it runs, so that nested polls leave it out; put back unless the
        // callback unwatched or re-watched its descriptor.
        FdReadyFn callback = std::exchange(w->onReadable, nullptr);
        const short saved = currentRevents;
        currentRevents = p.revents;
        callback(p.fd);
        currentRevents = saved;
        w = findWatch(p.fd);
        if (w != nullptr && w->serial == serial) {
            w->onReadable = std::move(callback);
        }
    }
    polled.resize(base);
    polledSerials.resize(base);
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
