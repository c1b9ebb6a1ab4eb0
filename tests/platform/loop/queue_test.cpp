// The message queue: posting order, sending, filters, the quit message, messages for
// dead windows, nested loops, and descriptor watching through a pipe.
#include "platform/loop/loop.h"
#include "support/window_recorder.h"

#include "platform/runtime.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using recorder::events;
using recorder::reaction;
using recorder::topLevel;
using Strings = std::vector<std::string>;

namespace {

class Queue : public recorder::WindowTest {};

// A pipe closed when the test ends.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe2(fds, O_NONBLOCK | O_CLOEXEC), 0); }
    ~Pipe() {
        platform::unwatchFd(fds[0]);
        close(fds[0]);
        close(fds[1]);
    }
    void put(char c) const { EXPECT_EQ(write(fds[1], &c, 1), 1); }
    int take() const {
        char buf[16];
        ssize_t n = read(fds[0], buf, sizeof(buf));
        return n > 0 ? static_cast<int>(n) : 0;
    }
};

TEST_F(Queue, PostedMessagesAreDispatchedInOrderAndSentOnesAtOnce) {
    HWND a = topLevel("a");
    HWND b = topLevel("b");
    PostMessageA(a, WM_USER + 1, 0, 0);
    PostMessageA(b, WM_USER + 2, 0, 0);
    events().clear();
    EXPECT_EQ(SendMessageA(b, WM_USER + 3, 0, 0), 0);
    EXPECT_EQ(events(), Strings{"b:1027"});
    EXPECT_EQ(platformDispatchPending(100), 2);
    EXPECT_EQ(events(), (Strings{"b:1027", "a:1025", "b:1026"}));
    EXPECT_EQ(platformDispatchPending(100), 0);
}

TEST_F(Queue, MessagesPostedWhileDispatchingAreDispatchedUpToTheLimit) {
    HWND a = topLevel("a");
    reaction() = [&](HWND h, UINT msg, WPARAM w, LPARAM, LRESULT*) {
        if (msg == WM_USER && w < 5) {
            PostMessageA(h, WM_USER, w + 1, 0);
        }
        return false;
    };
    PostMessageA(a, WM_USER, 0, 0);
    events().clear();
    EXPECT_EQ(platformDispatchPending(4), 4);
    EXPECT_EQ(platformDispatchPending(100), 2);
    EXPECT_EQ(events().size(), 6u);
}

TEST_F(Queue, PeekFiltersByMessageAndWindowAndRemovesOnlyWithPmRemove) {
    HWND a = topLevel("a");
    HWND b = topLevel("b");
    PostMessageA(a, WM_USER + 1, 1, 0);
    PostMessageA(b, 1124, 2, 0);
    PostMessageA(a, 1124, 3, 0);
    PostMessageA(a, 1127, 4, 0);
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE));
    EXPECT_EQ(m.hwnd, b);
    EXPECT_EQ(m.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE)); // still there
    EXPECT_EQ(m.wParam, 2u);
    ASSERT_TRUE(PeekMessageA(&m, a, 1124, 1127, PM_REMOVE));
    EXPECT_EQ(m.wParam, 3u);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_REMOVE));
    EXPECT_EQ(m.wParam, 2u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 1124, 1124, PM_REMOVE));
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 1125, 1126, PM_NOREMOVE));
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.wParam, 1u);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.message, 1127u);
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
}

// The queue keeps its order past the first few hundred messages, around the end of its
// storage and while messages are taken from the middle by a filter, and KillTimer removes
// the timer's waiting tick wherever it sits.
TEST_F(Queue, OrderHoldsAcrossGrowthWrapAndRemovalFromTheMiddle) {
    platformUseManualClock(0);
    HWND a = topLevel("a");
    MSG m{};
    for (int i = 0; i < 200; ++i) { // moves the start of the queue on
        PostMessageA(a, WM_USER, 0, 0);
        ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    }
    ASSERT_EQ(SetTimer(a, 7, 1000, nullptr), 7u);
    for (WPARAM i = 0; i < 600; ++i) {
        PostMessageA(a, i % 3 == 0 ? WM_USER + 1 : WM_USER + 2, i, 0);
        if (i == 300) {
            platformAdvanceClock(1000);
            ASSERT_TRUE(PeekMessageA(&m, nullptr, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
        }
    }
    for (WPARAM i = 0; i < 600; i += 3) { // the filter takes every third from the middle
        ASSERT_TRUE(PeekMessageA(&m, a, WM_USER + 1, WM_USER + 1, PM_REMOVE));
        EXPECT_EQ(m.wParam, i);
    }
    EXPECT_FALSE(PeekMessageA(&m, a, WM_USER + 1, WM_USER + 1, PM_NOREMOVE));
    ASSERT_TRUE(KillTimer(a, 7));
    std::vector<WPARAM> rest;
    while (rest.size() < 1000 && PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
        EXPECT_EQ(m.message, WM_USER + 2u);
        rest.push_back(m.wParam);
    }
    std::vector<WPARAM> expected;
    for (WPARAM i = 0; i < 600; ++i) {
        if (i % 3 != 0) {
            expected.push_back(i);
        }
    }
    EXPECT_EQ(rest, expected);
}

TEST_F(Queue, MessageForADestroyedWindowIsDropped) {
    HWND a = topLevel("a");
    HWND b = topLevel("b");
    PostMessageA(a, WM_USER, 0, 0);
    PostMessageA(b, WM_USER, 0, 0);
    DestroyWindow(a);
    events().clear();
    EXPECT_FALSE(PostMessageA(a, WM_USER, 0, 0)); // no longer a window
    MSG m{};
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(m.hwnd, a);
    EXPECT_EQ(DispatchMessageA(&m), 0);
    platformDispatchPending(10);
    EXPECT_EQ(events(), Strings{"b:1024"});
}

TEST_F(Queue, GetMessageReturnsZeroForQuitAndQuitStaysForTheLoop) {
    HWND a = topLevel("a");
    EXPECT_FALSE(platformQuitPosted());
    PostMessageA(a, WM_USER, 0, 0);
    PostQuitMessage(3);
    PostMessageA(a, WM_USER + 1, 0, 0);
    EXPECT_TRUE(platformQuitPosted());
    events().clear();
    // Dispatching what is waiting leaves WM_QUIT for the message loop.
    EXPECT_EQ(platformDispatchPending(100), 2);
    EXPECT_EQ(events(), (Strings{"a:1024", "a:1025"}));
    MSG m{};
    EXPECT_EQ(GetMessageA(&m, nullptr, 0, 0), FALSE);
    EXPECT_EQ(m.message, WM_QUIT);
    EXPECT_EQ(m.wParam, 3u);
    EXPECT_TRUE(platformQuitPosted());
    platformReset();
    EXPECT_FALSE(platformQuitPosted());
}

TEST_F(Queue, ModalLoopRunsUntilDoneAndHandsQuitBack) {
    HWND a = topLevel("a");
    bool done = false;
    reaction() = [&](HWND, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_USER + 1) {
            done = true;
        }
        return false;
    };
    PostMessageA(a, WM_USER, 0, 0);
    PostMessageA(a, WM_USER + 1, 0, 0);
    PostMessageA(a, WM_USER + 2, 0, 0);
    events().clear();
    platform::runModalLoop([&] { return done; });
    EXPECT_EQ(events(), (Strings{"a:1024", "a:1025"}));

    // WM_QUIT ends the nested loop and is put back for the outer one.
    PostQuitMessage(9);
    platform::runModalLoop([] { return false; });
    EXPECT_EQ(events(), (Strings{"a:1024", "a:1025", "a:1026"}));
    MSG m{};
    EXPECT_FALSE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.wParam, 9u);
}

TEST_F(Queue, WatchedDescriptorCallbackRunsWhenReadableAndPostsInOrder) {
    HWND a = topLevel("a");
    Pipe p;
    int calls = 0;
    platform::watchFd(p.fds[0], [&](int fd) {
        EXPECT_EQ(fd, p.fds[0]);
        ++calls;
        p.take();
        PostMessageA(a, 1124, 0, 0);
    });
    platform::setFdPosts(p.fds[0], 1124, 1124);
    MSG m{};
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(calls, 0);
    PostMessageA(a, WM_USER, 0, 0);
    p.put('x');
    // Peek looks at the descriptors first, so the backlog is visible at once.
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE));
    EXPECT_EQ(calls, 1);
    events().clear();
    EXPECT_EQ(platformDispatchPending(10), 2);
    EXPECT_EQ(events(), (Strings{"a:1024", "a:1124"}));

    // A disabled descriptor is not polled; enabling it again is.
    platform::enableFd(p.fds[0], false);
    p.put('y');
    EXPECT_EQ(platformDispatchPending(10), 0);
    EXPECT_EQ(calls, 1);
    platform::enableFd(p.fds[0], true);
    EXPECT_EQ(platformDispatchPending(10), 1);
    EXPECT_EQ(calls, 2);

    platform::unwatchFd(p.fds[0]);
    p.put('z');
    EXPECT_EQ(platformDispatchPending(10), 0);
    EXPECT_EQ(calls, 2);
}

TEST_F(Queue, FilteredPeekPollsOnlyWhileASourceOfItsMessagesIsWatchedAndNotSignalled) {
    HWND a = topLevel("a");
    Pipe audio, other;
    int audioCalls = 0, otherCalls = 0;
    platform::watchFd(audio.fds[0], [&](int fd) {
        ++audioCalls;
        platform::enableFd(fd, false); // one notification outstanding, as a socket's
        PostMessageA(a, 1124, 0, 0);
    });
    platform::setFdPosts(audio.fds[0], 1124, 1124);
    platform::watchFd(other.fds[0], [&](int) {
        ++otherCalls;
        other.take();
        PostMessageA(a, WM_COMMAND, 0, 0);
    });
    other.put('o');
    MSG m{};
    // The source of 1124 is watched: the look polls (and serves the other one too).
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE));
    EXPECT_EQ(otherCalls, 1);
    audio.put('a');
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE));
    EXPECT_EQ(audioCalls, 1);
    // Signalled (its notification waits): a filtered look does not poll at all.
    other.put('o');
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 1124, 1124, PM_NOREMOVE));
    EXPECT_EQ(otherCalls, 1);
    // Nor does one whose filter no watched source posts; an unfiltered look does.
    EXPECT_FALSE(PeekMessageA(&m, nullptr, 1200, 1300, PM_NOREMOVE));
    EXPECT_EQ(otherCalls, 1);
    ASSERT_TRUE(PeekMessageA(&m, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(otherCalls, 2);
    EXPECT_EQ(audioCalls, 1);
}

TEST_F(Queue, GetMessageBlocksUntilAWatchedDescriptorDelivers) {
    HWND a = topLevel("a");
    Pipe p;
    platform::watchFd(p.fds[0], [&](int) {
        p.take();
        PostMessageA(a, 1127, 5, 0);
    });
    p.put('x');
    MSG m{};
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(m.message, 1127u);
    EXPECT_EQ(m.wParam, 5u);
}

TEST_F(Queue, CallbackRunningANestedLoopIsNotCalledAgainInside) {
    HWND a = topLevel("a");
    Pipe p;
    int depth = 0;
    int maxDepth = 0;
    platform::watchFd(p.fds[0], [&](int) {
        ++depth;
        maxDepth = std::max(maxDepth, depth);
        platformDispatchPending(10); // a nested loop while the data is still unread
        p.take();
        PostMessageA(a, WM_USER, 0, 0);
        --depth;
    });
    p.put('x');
    EXPECT_EQ(platformDispatchPending(10), 1);
    EXPECT_EQ(maxDepth, 1);
}

TEST_F(Queue, CallbackMayUnwatchItself) {
    Pipe p;
    int calls = 0;
    platform::watchFd(p.fds[0], [&](int fd) {
        ++calls;
        platform::unwatchFd(fd);
    });
    p.put('x');
    platformDispatchPending(10);
    platformDispatchPending(10);
    EXPECT_EQ(calls, 1);
}

struct WatchSeen {
    int calls = 0;
    short revents = 0;
};

TEST_F(Queue, WritableWatchRunsOnlyWhileAskedForAndSeesItsEvents) {
    Pipe p;
    WatchSeen seen;
    platformWatchDescriptor(
        p.fds[1], POLLOUT,
        [](int, short revents, void* context) {
            auto* s = static_cast<WatchSeen*>(context);
            ++s->calls;
            s->revents = revents;
        },
        &seen);
    platformDispatchPending(10);
    EXPECT_EQ(seen.calls, 1);
    EXPECT_NE(seen.revents & POLLOUT, 0);
    // Nothing asked for: the descriptor is left out of the poll.
    platformSetDescriptorEvents(p.fds[1], 0);
    platformDispatchPending(10);
    EXPECT_EQ(seen.calls, 1);
    platformUnwatchDescriptor(p.fds[1]);
}

TEST_F(Queue, BeforeSleepHooksRunOnlyWhenTheLoopIsAboutToWait) {
    HWND a = topLevel("a");
    Pipe p;
    platform::watchFd(p.fds[0], [&](int) {
        p.take();
        PostMessageA(a, WM_USER, 0, 0);
    });
    static int runs = 0;
    runs = 0;
    // The hook makes the descriptor readable, so the wait after it ends at once.
    auto hook = [](void* context) {
        ++runs;
        static_cast<Pipe*>(context)->put('x');
    };
    ASSERT_TRUE(platformAddBeforeSleep(hook, &p));
    PostMessageA(a, WM_USER + 1, 0, 0);
    MSG m{};
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0)); // a message was waiting: no sleep
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER + 1));
    EXPECT_EQ(runs, 0);
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0)); // nothing waiting: the hook runs first
    EXPECT_EQ(m.message, static_cast<UINT>(WM_USER));
    EXPECT_EQ(runs, 1);

    int others[3] = {};
    for (int& o : others) {
        EXPECT_TRUE(platformAddBeforeSleep(hook, &o));
    }
    EXPECT_FALSE(platformAddBeforeSleep(hook, &runs)); // four at most
    for (int& o : others) {
        platformRemoveBeforeSleep(hook, &o);
    }
    platformRemoveBeforeSleep(hook, &p);
    PostMessageA(a, WM_USER + 1, 0, 0);
    ASSERT_TRUE(GetMessageA(&m, nullptr, 0, 0));
    EXPECT_EQ(runs, 1);
}

} // namespace
