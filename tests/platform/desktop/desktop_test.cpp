// The desktop registry: windows of another program found by class, asked whether they are
// minimised, told to restore or take the focus; the wire names and requests byte for byte.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"
#include "support/foreign_holder.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// The platform tests run on a desktop of their own, so that a server or another test run
// of this user cannot see their windows, nor they its (helpers started here inherit it).
const bool ownDesktop =
    setenv("CONFSERVER_DESKTOP", ("platform_tests." + std::to_string(getpid())).c_str(), 0) == 0;

// A unique class name for this test process.
std::string className(const char* base) {
    return std::string(base) + std::to_string(getpid());
}

// The registry address of a class on the current desktop, written out by hand.
sockaddr_un registryAddress(const std::string& cls, socklen_t& length) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    const char* desktop = getenv("CONFSERVER_DESKTOP");
    const std::string prefix = desktop != nullptr && desktop[0] != '\0'
                                   ? "confserver-desktop." + std::string(desktop) + "/"
                                   : "confserver-desktop/";
    const std::string name = prefix + std::to_string(getuid()) + "/" + cls;
    std::memcpy(a.sun_path + 1, name.data(), name.size());
    length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    return a;
}

bool nameIsBound(const std::string& cls) {
    socklen_t length;
    const sockaddr_un a = registryAddress(cls, length);
    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const bool bound = connect(fd, reinterpret_cast<const sockaddr*>(&a), length) == 0;
    close(fd);
    return bound;
}

// Runs the message pump for up to ms milliseconds, or until done() is true.
template <typename Done> bool pumpUntil(int ms, Done done) {
    for (int waited = 0; waited < ms; waited += 10) {
        platform::pollSources(10);
        platformDispatchPending(100);
        if (done()) {
            return true;
        }
    }
    return false;
}

// The fake other program, its standard output read line by line.
class OtherProgram {
  public:
    OtherProgram(const std::string& cls, bool minimised) {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string path = std::string(CONFSERVER_TEST_HELPERS_DIR) + "/fake_other_program";
        std::vector<std::string> words = {path, cls, "--seconds", "20"};
        if (minimised) {
            words.push_back("--minimised");
        }
        std::vector<char*> argv;
        for (std::string& w : words) {
            argv.push_back(w.data());
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        if (posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        out_ = fds[0];
    }
    ~OtherProgram() { stop(); }
    OtherProgram(const OtherProgram&) = delete;
    OtherProgram& operator=(const OtherProgram&) = delete;

    // The next line it printed, waiting at most ms; "" when none came.
    std::string nextLine(int ms) {
        for (int waited = 0; waited <= ms; waited += 20) {
            const size_t end = buffered_.find('\n');
            if (end != std::string::npos) {
                std::string line = buffered_.substr(0, end);
                buffered_.erase(0, end + 1);
                return line;
            }
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 20) == 1) {
                char chunk[256];
                const ssize_t n = read(out_, chunk, sizeof chunk);
                if (n <= 0) {
                    return "";
                }
                buffered_.append(chunk, static_cast<size_t>(n));
            }
        }
        return "";
    }
    void stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (out_ >= 0) {
            close(out_);
            out_ = -1;
        }
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string buffered_;
};

std::vector<UINT> seenCommands;

LRESULT recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SYSCOMMAND) {
        seenCommands.push_back(static_cast<UINT>(wParam));
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

class DesktopRegistry : public ::testing::Test {
  protected:
    void SetUp() override {
        platformReset();
        seenCommands.clear();
    }
    void TearDown() override { platformReset(); }

    HWND makeWindow(const std::string& cls) {
        WNDCLASSA wc{};
        wc.lpfnWndProc = recordingProc;
        wc.lpszClassName = cls.c_str();
        if (RegisterClassA(&wc) == 0) {
            return nullptr;
        }
        return CreateWindowExA(0, cls.c_str(), "", WS_CAPTION, 0, 0, 10, 10, nullptr, nullptr,
                               nullptr, nullptr);
    }
};

} // namespace

TEST_F(DesktopRegistry, OtherProgramsMinimisedWindowIsFoundAndRestored) {
    // The server's own path: FindWindowA, IsIconic, PostMessageA and SetFocus.
    const std::string cls = className("DesktopMin");
    EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr);
    OtherProgram other(cls, true);
    ASSERT_EQ(other.nextLine(5000), "ready");

    HWND remote = FindWindowA(cls.c_str(), nullptr);
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(platform::isRemoteWindow(remote));
    EXPECT_TRUE(IsIconic(remote));

    // Only a restore crosses to the other program: the close before it is not forwarded,
    // so the first line is the restore and the next the focus.
    PostMessageA(remote, WM_CLOSE, 0, 0);
    PostMessageA(remote, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(other.nextLine(3000), "WM_SYSCOMMAND f120");
    PostMessageA(remote, WM_SYSCOMMAND, 0xF020, 0); // minimise: not forwarded
    SetFocus(remote);
    EXPECT_EQ(other.nextLine(3000), "focused");

    other.stop();
    EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr);
    EXPECT_FALSE(IsIconic(remote)); // nobody answers any more
}

TEST_F(DesktopRegistry, OtherProgramsShownWindowIsNotIconicAndOwnsItsName) {
    const std::string cls = className("DesktopShown");
    OtherProgram other(cls, false);
    ASSERT_EQ(other.nextLine(5000), "ready");
    HWND remote = platform::desktopFind(cls.c_str());
    ASSERT_NE(remote, nullptr);
    EXPECT_FALSE(platform::desktopIsIconic(remote));

    // This process announcing the same class is left out; the other program keeps it.
    HWND mine = makeWindow(cls);
    ASSERT_NE(mine, nullptr);
    platform::desktopAnnounce(mine, cls.c_str());
    HWND again = platform::desktopFind(cls.c_str());
    ASSERT_NE(again, nullptr);
    platform::desktopPost(again, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_EQ(other.nextLine(3000), "WM_SYSCOMMAND f120");
    pumpUntil(100, [] { return false; });
    EXPECT_TRUE(seenCommands.empty());
}

TEST_F(DesktopRegistry, AnnouncedWindowAnswersRequestsOnItsName) {
    const std::string cls = className("DesktopMine");
    HWND hwnd = makeWindow(cls);
    ASSERT_NE(hwnd, nullptr);
    platform::desktopAnnounce(hwnd, cls.c_str());
    ASSERT_TRUE(nameIsBound(cls));
    // This process's own window is not another program's.
    EXPECT_EQ(platform::desktopFind(cls.c_str()), nullptr);

    socklen_t length;
    const sockaddr_un to = registryAddress(cls, length);
    const int asker = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un self{};
    self.sun_family = AF_UNIX;
    ASSERT_EQ(bind(asker, reinterpret_cast<const sockaddr*>(&self), sizeof(sa_family_t)), 0);
    const auto ask = [&](const char* text) {
        return sendto(asker, text, std::strlen(text), 0, reinterpret_cast<const sockaddr*>(&to),
                      length) == static_cast<ssize_t>(std::strlen(text));
    };

    // Without a screen every window counts as minimised: the answer is "1", from the
    // registry name.
    ASSERT_TRUE(ask("ICONIC?"));
    char answer[8] = {};
    ssize_t got = -1;
    sockaddr_un from{};
    socklen_t fromLength = sizeof from;
    pumpUntil(2000, [&] {
        got = recvfrom(asker, answer, sizeof answer, MSG_DONTWAIT,
                       reinterpret_cast<sockaddr*>(&from), &fromLength);
        return got >= 0;
    });
    ASSERT_EQ(got, 1);
    EXPECT_EQ(answer[0], '1');
    EXPECT_EQ(fromLength, length);
    EXPECT_EQ(std::memcmp(&from, &to, length), 0);

    // Unknown or almost-right requests do nothing; RESTORE posts the restore.
    ASSERT_TRUE(ask("ICONIC"));
    ASSERT_TRUE(ask("RESTORE\n"));
    ASSERT_TRUE(ask("RESTORE"));
    ASSERT_TRUE(pumpUntil(2000, [] { return !seenCommands.empty(); }));
    pumpUntil(50, [] { return false; });
    EXPECT_EQ(seenCommands, std::vector<UINT>{static_cast<UINT>(SC_RESTORE)});
    EXPECT_EQ(recv(asker, answer, sizeof answer, MSG_DONTWAIT), -1);

    SetFocus(nullptr);
    ASSERT_TRUE(ask("FOCUS"));
    EXPECT_TRUE(pumpUntil(2000, [hwnd] { return SetFocus(nullptr) == hwnd; }));
    close(asker);

    platform::desktopWithdraw(hwnd);
    EXPECT_FALSE(nameIsBound(cls));
}

TEST_F(DesktopRegistry, RequestsOfOtherUsersAreIgnored) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to send as another user";
    }
    const std::string cls = className("DesktopUser");
    HWND hwnd = makeWindow(cls);
    ASSERT_NE(hwnd, nullptr);
    platform::desktopAnnounce(hwnd, cls.c_str());
    socklen_t length;
    const sockaddr_un to = registryAddress(cls, length);
    const auto restoreAs = [&](uid_t uid) {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setuid(uid) != 0) {
                _exit(1);
            }
            const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
            const bool sent =
                sendto(fd, "RESTORE", 7, 0, reinterpret_cast<const sockaddr*>(&to), length) == 7;
            _exit(sent ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    };
    ASSERT_TRUE(restoreAs(65534));
    pumpUntil(200, [] { return false; });
    EXPECT_TRUE(seenCommands.empty());
    ASSERT_TRUE(restoreAs(getuid()));
    EXPECT_TRUE(pumpUntil(2000, [] { return !seenCommands.empty(); }));
}

TEST_F(DesktopRegistry, DesktopsNamedInTheEnvironmentAreSeparate) {
    ASSERT_TRUE(ownDesktop);
    const std::string saved = getenv("CONFSERVER_DESKTOP");
    const std::string cls = className("DesktopSplit");
    OtherProgram other(cls, true); // on this process's desktop
    ASSERT_EQ(other.nextLine(5000), "ready");
    ASSERT_TRUE(nameIsBound(cls));

    ASSERT_EQ(setenv("CONFSERVER_DESKTOP", ("split." + std::to_string(getpid())).c_str(), 1), 0);
    EXPECT_FALSE(nameIsBound(cls));
    EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr);
    HWND mine = makeWindow(cls); // announced on the other desktop, beside the helper's
    ASSERT_NE(mine, nullptr);
    EXPECT_TRUE(nameIsBound(cls));

    // The ordinary desktop has neither (unless a program of this user shows that class).
    ASSERT_EQ(unsetenv("CONFSERVER_DESKTOP"), 0);
    socklen_t length;
    const sockaddr_un plain = registryAddress(cls, length);
    EXPECT_EQ(std::string(plain.sun_path + 1, length - offsetof(sockaddr_un, sun_path) - 1),
              "confserver-desktop/" + std::to_string(getuid()) + "/" + cls);
    EXPECT_FALSE(nameIsBound(cls));

    ASSERT_EQ(setenv("CONFSERVER_DESKTOP", saved.c_str(), 1), 0);
    DestroyWindow(mine);
    HWND remote = FindWindowA(cls.c_str(), nullptr);
    ASSERT_NE(remote, nullptr);
    EXPECT_TRUE(platform::isRemoteWindow(remote));
}

TEST_F(DesktopRegistry, NameHeldByAnotherUserIsNoWindowOfOurs) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to hold a name as another user";
    }
    // A holder of another user that answers as a minimised window would, and one that
    // stays silent: neither is a window of ours, and each look gets to it only the one
    // question that finds out who it is.
    for (bool answers : {true, false}) {
        const std::string cls = className(answers ? "DesktopForeignA" : "DesktopForeignS");
        testutil::ForeignHolder holder(getenv("CONFSERVER_DESKTOP"), cls, 65534, answers);
        ASSERT_TRUE(holder.ready()) << answers;
        ASSERT_TRUE(nameIsBound(cls));
        EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr) << answers;
        EXPECT_EQ(platform::desktopFind(cls.c_str()), nullptr) << answers;

        // A window of ours of that class is still made; it cannot be announced while the
        // name is taken, and the holder gets no request of ours.
        HWND mine = makeWindow(cls);
        ASSERT_NE(mine, nullptr);
        EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), mine);
        EXPECT_EQ(holder.requests(300), (std::vector<std::string>{"ICONIC?", "ICONIC?"}))
            << answers;
        DestroyWindow(mine);
    }
}

TEST_F(DesktopRegistry, FloodOfRequestsIsReadOnlyWhileThePumpWaits) {
    const std::string cls = className("DesktopFlood");
    HWND hwnd = makeWindow(cls);
    ASSERT_NE(hwnd, nullptr);
    ASSERT_TRUE(nameIsBound(cls));
    socklen_t length;
    const sockaddr_un to = registryAddress(cls, length);

    // A sender that keeps the announcement socket's queue full for up to 10 s.
    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0};
    std::thread flood([&] {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (flooding && std::chrono::steady_clock::now() < end) {
            if (sendto(fd, "RESTORE", 7, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to),
                       length) == 7) {
                ++sent;
            } else {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        }
        close(fd);
    });
    for (int i = 0; i < 500 && sent < 8; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_GE(sent.load(), 8);

    // A busy relay looks at its sockets with PeekMessageA and dispatches what waits: the
    // flood is not read on any of those looks.
    MSG msg{};
    for (int i = 0; i < 2000; ++i) {
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        platformDispatchPending(100);
    }
    EXPECT_EQ(platform::desktopRequestsRead(), 0u);
    EXPECT_TRUE(seenCommands.empty());

    // Each time the pump waits, it reads at most 16 requests.
    uint64_t read = 0;
    for (int wake = 0; wake < 20; ++wake) {
        platform::pollSources(10);
        const uint64_t now = platform::desktopRequestsRead();
        EXPECT_LE(now - read, 16u) << wake;
        read = now;
    }
    flooding = false;
    flood.join();
    EXPECT_GT(read, 0u);
    platformDispatchPending(1000);
    EXPECT_EQ(seenCommands.size(), read); // every one read was acted on, once
}
