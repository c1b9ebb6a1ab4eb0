// Descriptor watching (see loop.h) and the before-sleep hooks. The watches are a table indexed
// by descriptor number, each a callback and its data; the pump polls them in ascending order. A
// callback may watch, unwatch or quiet descriptors (its own included) and may run a nested
// message loop; its own descriptor is left out of nested polls until it returns.
#include "platform/loop/loop.h"
#include "platform/runtime.h"

#include <cerrno>
#include <poll.h>
#include <vector>

namespace {

struct Watch {
    DescriptorReady ready = nullptr; // nullptr: the descriptor is not watched
    void* data = nullptr;
    short events = POLLIN; // what poll waits for (0: nothing); POLLHUP and POLLERR always wake it
    bool running = false;  // its callback runs: nested polls leave it out
    bool idleOnly = false; // polled only when the pump is about to wait
    UINT postsFirst = 0;   // the messages its callback may post: system ones unless told
    UINT postsLast = WM_USER - 1;
    uint64_t serial = 0; // tells a re-watched descriptor from the one polled
};

// The watches by descriptor number; grown (never shrunk) by a watch of a higher one.
std::vector<Watch> watches;
int highestFd = -1; // the highest watched descriptor
uint64_t nextSerial = 1;
// The descriptors being polled and their watches' serials, nested polls stacked above outer
// ones; they keep their capacity, so the pump allocates nothing once it has polled as many.
std::vector<pollfd> polled;
std::vector<uint64_t> polledSerials;

Watch* findWatch(int fd) {
    if (fd < 0 || fd > highestFd || watches[static_cast<size_t>(fd)].ready == nullptr) {
        return nullptr;
    }
    return &watches[static_cast<size_t>(fd)];
}

// Polled by a look (idleOnly false) or by the wait before sleep (idleOnly true).
bool polledNow(const Watch& w, bool waiting) {
    return w.ready != nullptr && !w.running && w.events != 0 && (waiting || !w.idleOnly);
}

struct BeforeSleep {
    void (*fn)(void*) = nullptr;
    void* context = nullptr;
};
constexpr int kMaxBeforeSleep = 8;
BeforeSleep beforeSleep[kMaxBeforeSleep];
bool hooksAgain = false; // a hook has more to do before the pump may sleep

} // namespace

namespace platform {

bool runBeforeSleep() {
    hooksAgain = false;
    for (const BeforeSleep& b : beforeSleep) {
        if (b.fn != nullptr) {
            b.fn(b.context);
        }
    }
    return hooksAgain;
}

void setFdPosts(int fd, UINT first, UINT last) {
    if (Watch* w = findWatch(fd)) {
        w->postsFirst = first;
        w->postsLast = last;
    }
}

bool sourcesMayPost(UINT filterMin, UINT filterMax) {
    for (int fd = 0; fd <= highestFd; ++fd) {
        const Watch& w = watches[static_cast<size_t>(fd)];
        if (polledNow(w, false) && w.postsFirst <= filterMax && filterMin <= w.postsLast) {
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

void pollSources(int timeoutMs) {
    postDueTimers();
    deliverPendingSignal();
    const size_t base = polled.size();
    for (int fd = 0; fd <= highestFd; ++fd) {
        const Watch& w = watches[static_cast<size_t>(fd)];
        if (polledNow(w, timeoutMs != 0)) {
            polled.push_back(pollfd{fd, w.events, 0});
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
            w->events = 0; // closed without an unwatch: stop polling it
            continue;
        }
        const short wanted = static_cast<short>(w->events | POLLHUP | POLLERR);
        if ((p.revents & wanted) == 0 || w->events == 0 || w->running) {
            continue;
        }
        w->running = true;
        w->ready(p.fd, p.revents, w->data);
        w = findWatch(p.fd); // the table may have grown, or the watch gone
        if (w != nullptr && w->serial == serial) {
            w->running = false;
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
    highestFd = -1;
    hooksAgain = false;
    for (BeforeSleep& b : beforeSleep) {
        b = BeforeSleep{};
    }
}

} // namespace platform

void platformWatchDescriptor(int fd, short events, DescriptorReady ready, void* data) {
    if (fd < 0 || ready == nullptr) {
        return;
    }
    if (static_cast<size_t>(fd) >= watches.size()) {
        watches.resize(static_cast<size_t>(fd) + 1);
    }
    watches[static_cast<size_t>(fd)] = Watch{ready, data, events};
    watches[static_cast<size_t>(fd)].serial = nextSerial++;
    highestFd = fd > highestFd ? fd : highestFd;
}

void platformSetDescriptorEvents(int fd, short events) {
    if (Watch* w = findWatch(fd)) {
        w->events = events;
    }
}

void platformUnwatchDescriptor(int fd) {
    if (findWatch(fd) == nullptr) {
        return;
    }
    watches[static_cast<size_t>(fd)] = Watch{};
    while (highestFd >= 0 && watches[static_cast<size_t>(highestFd)].ready == nullptr) {
        --highestFd;
    }
}

bool platformAddBeforeSleep(void (*fn)(void* context), void* context) {
    for (BeforeSleep& b : beforeSleep) {
        if (b.fn == fn && b.context == context) {
            return true; // once only: each hook runs once before each wait
        }
    }
    for (BeforeSleep& b : beforeSleep) {
        if (b.fn == nullptr) {
            b.fn = fn;
            b.context = context;
            return true;
        }
    }
    return false;
}

void platformBeforeSleepAgain() {
    hooksAgain = true;
}

void platformRemoveBeforeSleep(void (*fn)(void* context), void* context) {
    for (BeforeSleep& b : beforeSleep) {
        if (b.fn == fn && b.context == context) {
            b = BeforeSleep{};
        }
    }
}
