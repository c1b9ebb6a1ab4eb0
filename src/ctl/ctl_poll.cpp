// The control socket's one watch of the platform's pump: its listening socket and its
// clients sit in an epoll set, and the pump polls that set's one descriptor. So the relay's
// queue check, which polls every watched descriptor, sees one descriptor more whatever the
// number of clients, and this is the one place that uses the pump's watch interface.
#include "ctl/ctl_internal.h"
#include "platform/runtime.h"

#include <cstdint>
#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace {

constexpr int EVENTS_PER_READY = 8;
// A tag is kept in the event's data: the listening socket's, or a client slot.
constexpr uint64_t TAG_BIAS = 1;

int epollFd = -1;
void (*onTagReady)(int tag, uint32_t events) = nullptr;

uint64_t dataOf(int tag) {
    return static_cast<uint64_t>(static_cast<int64_t>(tag) + TAG_BIAS);
}

// The set's descriptor is readable: runs what is ready now, without waiting.
void onReady(int, short, void*) {
    epoll_event events[EVENTS_PER_READY];
    int n = ::epoll_wait(epollFd, events, EVENTS_PER_READY, 0);
    for (int i = 0; i < n && epollFd >= 0; ++i) {
        int tag = static_cast<int>(static_cast<int64_t>(events[i].data.u64 - TAG_BIAS));
        onTagReady(tag, events[i].events);
    }
}

} // namespace

bool ctlPollOpen(void (*ready)(int tag, uint32_t events)) {
    epollFd = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd < 0) {
        return false;
    }
    onTagReady = ready;
    platformWatchDescriptor(epollFd, POLLIN, onReady, nullptr);
    return true;
}

void ctlPollClose() {
    if (epollFd >= 0) {
        platformUnwatchDescriptor(epollFd);
        ::close(epollFd);
    }
    epollFd = -1;
}

bool ctlPollAdd(int fd, int tag, bool wantWrite) {
    epoll_event event{};
    event.events = EPOLLIN | (wantWrite ? EPOLLOUT : 0u);
    event.data.u64 = dataOf(tag);
    return ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

void ctlPollWant(int fd, int tag, bool wantRead, bool wantWrite) {
    epoll_event event{};
    event.events = (wantRead ? EPOLLIN : 0u) | (wantWrite ? EPOLLOUT : 0u);
    event.data.u64 = dataOf(tag);
    ::epoll_ctl(epollFd, EPOLL_CTL_MOD, fd, &event);
}

void ctlPollRemove(int fd) {
    if (epollFd >= 0) {
        ::epoll_ctl(epollFd, EPOLL_CTL_DEL, fd, nullptr);
    }
}
