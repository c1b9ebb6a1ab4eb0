// Descriptor watching (see loop.h) and the before-sleep hooks. The watches are a table indexed
// by descriptor number, each a callback and its data; the pump polls them in ascending order
// (idle-only ones last). A callback may watch, unwatch or quiet descriptors (its own
// included) and may run a nested message loop; its own descriptor is left out of nested
// polls until it returns.
//
// The poll set is kept from one poll to the next: every watched descriptor has its entry, in
// that order (so a look polls the set's beginning, without the idle-only ones), its number
// negated (which poll skips) while it must not be polled (it waits for nothing, or its
// callback runs). Quieting and arming a descriptor, as every receive on an async socket does,
// changes one entry; only a watch or an unwatch rebuilds the set. So a poll costs the call and
// a scan of what it found.
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
    uint64_t lookedAt = 0; // pollCount when a receive found nothing more waiting (see below)
    uint64_t lookedIn = 0; // the dispatch that receive was made in
    size_t entry = 0;      // its entry in the poll set
    UINT postsFirst = 0;   // the messages its callback may post: system ones unless told
    UINT postsLast = WM_USER - 1;
    uint64_t serial = 0; // tells a re-watched descriptor from the one polled
};

// The watches by descriptor number; grown (never shrunk) by a watch of a higher one.
std::vector<Watch> watches;
int highestFd = -1; // the highest watched descriptor
uint64_t nextSerial = 1;
// The poll set (see above), rebuilt before the next poll when stale; it keeps its capacity,
// so the pump allocates nothing once it has polled as many descriptors.
std::vector<pollfd> pollSet;
bool pollSetStale = true;
size_t lookCount = 0; // entries a look polls: the idle-only ones come after them
// The watched descriptors whose callbacks may post application messages (WM_USER and up),
// rebuilt with the poll set: a look filtered to such messages asks only these.
std::vector<int> userPosters;
// Polls made so far: a watch's lookedAt equal to it means that no poll has been made since a
// receive found its descriptor empty, so that receive was the latest look at it.
uint64_t pollCount = 1;

// A descriptor found ready by a poll, kept while the callbacks run (a nested poll reuses the
// set); the serial tells whether an earlier callback replaced its watch.
struct Ready {
    int fd;
    short revents;
    uint64_t serial;
};
constexpr size_t kMaxReady = 64; // more are found by the next poll

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

// Brings fd's entry in the poll set up to date with its watch (a rebuild does them all).
void refreshEntry(int fd, const Watch& w) {
    if (pollSetStale) {
        return;
    }
    pollfd& p = pollSet[w.entry];
    p.fd = polledNow(w, true) ? fd : ~fd;
    p.events = w.events;
}

void rebuildPollSet() {
    pollSet.clear();
    userPosters.clear();
    for (const bool idleOnly : {false, true}) {
        for (int fd = 0; fd <= highestFd; ++fd) {
            Watch& w = watches[static_cast<size_t>(fd)];
            if (w.ready == nullptr || w.idleOnly != idleOnly) {
                continue;
            }
            w.entry = pollSet.size();
            pollSet.push_back(pollfd{polledNow(w, true) ? fd : ~fd, w.events, 0});
            if (w.postsLast >= WM_USER) {
                userPosters.push_back(fd);
            }
        }
        if (!idleOnly) {
            lookCount = pollSet.size();
        }
    }
    pollSetStale = false;
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
        pollSetStale = true;
    }
}

bool sourcesMayPost(UINT filterMin, UINT filterMax) {
    if (pollSetStale) {
        rebuildPollSet();
    }
    auto mayPost = [filterMin, filterMax](int fd) {
        const Watch& w = watches[static_cast<size_t>(fd)];
        if (w.postsFirst > filterMax || filterMin > w.postsLast || !polledNow(w, false)) {
            return false;
        }
        // Not when a receive has looked at it since the last poll (see setFdLooked).
        return w.lookedAt != pollCount || w.lookedIn == 0 || w.lookedIn != dispatchSerial();
    };
    if (filterMin >= WM_USER) {
        for (const int fd : userPosters) {
            if (mayPost(fd)) {
                return true;
            }
        }
        return false;
    }
    for (const pollfd& p : pollSet) {
        if (mayPost(p.fd >= 0 ? p.fd : ~p.fd)) {
            return true;
        }
    }
    return false;
}

void setFdIdleOnly(int fd, bool idleOnly) {
    if (Watch* w = findWatch(fd)) {
        w->idleOnly = idleOnly;
        pollSetStale = true;
    }
}

void setFdLooked(int fd) {
    if (Watch* w = findWatch(fd)) {
        w->lookedAt = pollCount;
        w->lookedIn = dispatchSerial();
    }
}

void pollSources(int timeoutMs, uint64_t now) {
    postDueTimers(now);
    deliverPendingSignal();
    if (pollSetStale) {
        rebuildPollSet();
    }
    // A look leaves out the idle-only descriptors at the end of the set.
    const size_t polled = timeoutMs == 0 ? lookCount : pollSet.size();
    int found = 0;
    if (polled != 0 || timeoutMs != 0) {
        ++pollCount;
        found = poll(polled != 0 ? pollSet.data() : nullptr, polled, timeoutMs);
    }
    Ready ready[kMaxReady];
    size_t readyCount = 0;
    for (size_t i = 0; found > 0 && i < polled && readyCount < kMaxReady; ++i) {
        const pollfd& p = pollSet[i];
        if (p.revents != 0) {
            --found;
            ready[readyCount++] = Ready{p.fd, p.revents, watches[static_cast<size_t>(p.fd)].serial};
        }
    }
    for (size_t i = 0; i < readyCount; ++i) {
        const Ready& r = ready[i];
        Watch* w = findWatch(r.fd);
        if (w == nullptr || w->serial != r.serial) {
            continue; // unwatched (or replaced) by an earlier callback
        }
        if ((r.revents & POLLNVAL) != 0) {
            w->events = 0; // closed without an unwatch: stop polling it
            refreshEntry(r.fd, *w);
            continue;
        }
        const short wanted = static_cast<short>(w->events | POLLHUP | POLLERR);
        if ((r.revents & wanted) == 0 || w->events == 0 || w->running) {
            continue;
        }
        w->running = true;
        refreshEntry(r.fd, *w);
        w->ready(r.fd, r.revents, w->data);
        w = findWatch(r.fd); // the table may have grown, or the watch gone
        if (w != nullptr && w->serial == r.serial) {
            w->running = false;
            refreshEntry(r.fd, *w);
        }
    }
    if (timeoutMs != 0) {
        postDueTimers();
    }
}

void resetWatches() {
    watches.clear();
    highestFd = -1;
    pollSet.clear();
    pollSetStale = true;
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
    pollSetStale = true;
}

void platformSetDescriptorEvents(int fd, short events) {
    if (Watch* w = findWatch(fd)) {
        w->events = events;
        refreshEntry(fd, *w);
    }
}

void platformUnwatchDescriptor(int fd) {
    if (findWatch(fd) == nullptr) {
        return;
    }
    watches[static_cast<size_t>(fd)] = Watch{};
    pollSetStale = true;
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
