// What the operator reads from the built binary (addresses 127.103.0.0/16): a second line
// on standard error that says what failed, where and why; the help; the sign-off line;
// nothing of the companion program; a start that another user's desktop names cannot stop.
#include "support/foreign_holder.h"
#include "support/server_process.h"
#include "support/tcp_sink.h"
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <regex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using testutil::ServerProcess;
using testutil::TempDir;

namespace {

// Standard error without the event log's lines ("2026-12-10 04:30:00.123 event join -
// 192.0.2.1", ...), which every run writes there as well.
std::string withoutEvents(const std::string& text) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (end < at + 30 || text.compare(at + 24, 6, "event ") != 0) { // after the time
            out.append(text, at, end - at);
        }
        at = end;
    }
    return out;
}

const char* const ACCOUNT = "[callsign]\nuser=*OPS*\ndesc=OPERATOR TEST\nvalid=PW\n"
                            "[server]\nver=618\n";

std::string configIn(const TempDir& dir, const std::string& directory) {
    std::string path = dir.file("omvarc.ini");
    testutil::writeFile(path, std::string(ACCOUNT) + "1=" + directory + "\n");
    return path;
}

// Every line of standard output is a status line: time stamp, one blank, the text.
void expectOnlyStatusLines(ServerProcess& server) {
    const std::regex status(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} .*)");
    for (const std::string& line : server.lines()) {
        EXPECT_TRUE(std::regex_match(line, status)) << line;
    }
}

// A UDP socket that holds address:port, so that the server cannot bind it.
class PortHolder {
  public:
    PortHolder(const char* address, uint16_t port) {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address, &a.sin_addr);
        bound_ = fd_ >= 0 && bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0;
    }
    ~PortHolder() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    PortHolder(const PortHolder&) = delete;
    PortHolder& operator=(const PortHolder&) = delete;
    bool bound() const { return bound_; }

  private:
    int fd_ = -1;
    bool bound_ = false;
};

// The test process's working directory, changed for one scope.
class InDirectory {
  public:
    explicit InDirectory(const std::string& path) {
        ok_ = getcwd(saved_, sizeof saved_) != nullptr && chdir(path.c_str()) == 0;
    }
    ~InDirectory() {
        if (ok_ && chdir(saved_) != 0) {
            std::abort();
        }
    }
    InDirectory(const InDirectory&) = delete;
    InDirectory& operator=(const InDirectory&) = delete;
    bool ok() const { return ok_; }

  private:
    char saved_[PATH_MAX];
    bool ok_ = false;
};

bool waitForFile(const std::string& path) {
    for (int i = 0; i < 500 && !testutil::fileExists(path); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return testutil::fileExists(path);
}

} // namespace

TEST(OperatorMessages, PortThatCannotBeBoundIsNamedWithItsReason) {
    TempDir dir;
    const std::string config = configIn(dir, "127.103.9.1");
    struct Case {
        uint16_t taken;
        const char* box;
    };
    for (const Case& c :
         {Case{5198, "Socket create error - Port A"}, Case{5199, "Socket create error - Port B"}}) {
        PortHolder holder("127.103.0.1", c.taken);
        ASSERT_TRUE(holder.bound());
        ServerProcess server({"-m", "--config", config, "--bind", "127.103.0.1"});
        EXPECT_EQ(server.waitExit(10000), 1);
        EXPECT_EQ(withoutEvents(server.standardError()),
                  std::string(c.box) + "\nconfserver: cannot bind 127.103.0.1:" +
                      std::to_string(c.taken) + ": Address already in use\n");
        EXPECT_TRUE(server.lines().empty()); // no status line: the server never came up
    }
}

TEST(OperatorMessages, SignOffLineSaysWhereItWentAndWhetherItArrived) {
    {
        TempDir dir;
        testutil::TcpSink directory("127.103.1.1", 5200);
        ASSERT_TRUE(directory.ok());
        ServerProcess server(
            {"-m", "--config", configIn(dir, "127.103.1.1"), "--bind", "127.103.0.2"});
        ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
        EXPECT_EQ(withoutEvents(server.standardError()), "");
        EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
        EXPECT_EQ(directory.waitForClose(5000),
                  std::string("l*OPS*\xAC\xACPW\rOFF-V3.65C\rOPERATOR TEST\r"));
        EXPECT_EQ(withoutEvents(server.standardError()),
                  "confserver: signed off from 127.103.1.1:5200\n");
        expectOnlyStatusLines(server);
    }
    {
        // Nobody listens there: the connection is refused, and the line says so.
        TempDir dir;
        ServerProcess server(
            {"-m", "--config", configIn(dir, "127.103.1.2"), "--bind", "127.103.0.2"});
        ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
        EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
        EXPECT_EQ(withoutEvents(server.standardError()),
                  "confserver: sign-off to 127.103.1.2:5200 failed: Connection refused\n");
        expectOnlyStatusLines(server);
    }
}

TEST(OperatorMessages, ShortHelpAndEmptyBindAddress) {
    ServerProcess longHelp({"--help"});
    ServerProcess shortHelp({"-h"});
    EXPECT_EQ(longHelp.waitExit(5000), 0);
    EXPECT_EQ(shortHelp.waitExit(5000), 0);
    EXPECT_FALSE(longHelp.lines().empty());
    EXPECT_EQ(shortHelp.lines(), longHelp.lines());
    EXPECT_EQ(shortHelp.standardError(), "");

    ServerProcess empty({"-m", "--bind", ""});
    EXPECT_EQ(empty.waitExit(5000), 2);
    EXPECT_EQ(empty.standardError(), "confserver: --bind: the address is empty\n");
    EXPECT_TRUE(empty.lines().empty());
}

// A word that is not an option stops the start before anything is opened: one line, exit
// code 2, no status line (the first comes once both ports are open). The configuration is a
// good one, so each of these would have started a server listening on every address.
TEST(OperatorMessages, AStrayWordStopsTheStartWithOneLineAndNothingOpened) {
    TempDir dir;
    const std::string config = configIn(dir, "127.103.9.9");
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"-m", "--config", config, "-b", "127.103.0.9"},
         "-b: unknown option (did you mean --bind?)"},
        {{"-mv", "--config", config}, "-mv: unknown option (-m and -M stand alone)"},
        {{"-m", "--config", config, "foo"},
         "foo: unexpected word (options begin with --; see --help)"},
        {{"-m", "--config", config, "--bind", "127.103.0.9", "--bind", "127.103.0.10"},
         "--bind given twice"},
        {{"-m", "--config", config, "--time-scale", "abc"},
         "--time-scale: abc is not a number from 1 to 1000"},
    };
    for (const auto& [args, line] : cases) {
        ServerProcess server(args);
        EXPECT_EQ(server.waitExit(5000), 2) << line;
        EXPECT_EQ(server.standardError(), "confserver: " + line + "\n");
        EXPECT_TRUE(server.lines().empty()) << line;
    }
}

TEST(OperatorMessages, CompanionProgramIsSilentAndNeverFromTheCurrentDirectory) {
    // gdi.exe in the working directory and in a directory named by PATH after an empty
    // entry; each leaves its own mark and writes to standard output and error.
    TempDir cwd;
    TempDir bin;
    const auto companion = [](const std::string& path, const std::string& mark) {
        testutil::writeFile(path, "#!/bin/sh\n"
                                  "echo COMPANION OUTPUT\n"
                                  "echo COMPANION ERROR >&2\n"
                                  "echo ran > " +
                                      mark + "\n");
        return chmod(path.c_str(), 0755) == 0;
    };
    ASSERT_TRUE(companion(cwd.file("gdi.exe"), cwd.file("ran-from-cwd")));
    ASSERT_TRUE(companion(bin.file("gdi.exe"), cwd.file("ran-from-path")));
    const std::string config = configIn(cwd, "127.103.9.1");
    const char* path = std::getenv("PATH");
    InDirectory inside(cwd.path());
    ASSERT_TRUE(inside.ok());
    ServerProcess server({"-m", "--config", config, "--bind", "127.103.0.3"},
                         {"PATH=:.:" + bin.path() + ":" + (path ? path : "/usr/bin:/bin")});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    ASSERT_TRUE(waitForFile(cwd.file("ran-from-path")));
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    EXPECT_FALSE(testutil::fileExists(cwd.file("ran-from-cwd")));

    // Its output reached neither stream, not even before the first status line.
    const std::vector<std::string> lines = server.lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines[0].substr(lines[0].size() > 24 ? 24 : 0), "cVARDE");
    expectOnlyStatusLines(server);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.find("COMPANION"), std::string::npos) << line;
    }
    EXPECT_EQ(server.standardError().find("COMPANION"), std::string::npos)
        << server.standardError();
}

TEST(OperatorMessages, AnotherUsersDesktopNamesNeitherStopTheStartNorGetRequests) {
    if (getuid() != 0) {
        GTEST_SKIP() << "needs root to hold names as another user";
    }
    // The desktop of this test (ctest names one; run by hand, one of its own), which the
    // server started here inherits.
    setenv("CONFSERVER_DESKTOP", ("operator_messages." + std::to_string(getpid())).c_str(), 0);
    const std::string desktop = std::getenv("CONFSERVER_DESKTOP");
    // Another user holds both the name that would stop the start and the server's own.
    testutil::ForeignHolder other(desktop, "Omvar_v", 65534, true);
    testutil::ForeignHolder own(desktop, "Omvar_CS", 65534, true);
    ASSERT_TRUE(other.ready());
    ASSERT_TRUE(own.ready());
    TempDir dir;
    ServerProcess server({"-m", "--config", configIn(dir, "127.103.9.1"), "--bind", "127.103.0.4"});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    // The start asked who holds Omvar_v, once, and sent nothing that would restore or
    // focus it; the server's own name stays the other user's and gets nothing.
    EXPECT_EQ(other.requests(200), std::vector<std::string>{"ICONIC?"});
    EXPECT_TRUE(own.requests(0).empty());
}

TEST(OperatorMessages, InTheTerminalThePortLineComesOnceTheTerminalIsBack) {
    if (!testutil::tmuxAvailable()) {
        GTEST_SKIP() << "tmux is not installed";
    }
    setenv("CONFSERVER_DESKTOP", ("operator_messages." + std::to_string(getpid())).c_str(), 0);
    TempDir dir;
    const std::string config = configIn(dir, "127.103.9.1");
    PortHolder holder("127.103.2.1", 5198);
    ASSERT_TRUE(holder.bound());
    const std::string line = "confserver: cannot bind 127.103.2.1:5198: Address already in use";
    // Standard error on the screen, as a person sees it; then into a file, for the order.
    for (bool toFile : {false, true}) {
        const std::string errorFile = toFile ? dir.file("stderr") : "";
        testutil::TmuxSession tmux(
            {"-u", "COLORTERM", "TERM=xterm-256color",
             std::string("CONFSERVER_DESKTOP=") + std::getenv("CONFSERVER_DESKTOP")},
            {CONFSERVER_BINARY, "--config", config, "--bind", "127.103.2.1"}, 100, 30, errorFile);
        ASSERT_TRUE(tmux.ok());
        // The box is drawn in the terminal; the line is not written into the drawn screen.
        ASSERT_TRUE(tmux.waitForText("Socket create error - Port A", 10000)) << tmux.screen();
        EXPECT_EQ(tmux.screen().find("confserver:"), std::string::npos) << tmux.screen();
        tmux.keys({"Enter"});
        EXPECT_EQ(tmux.waitExit(10000), 1);
        if (toFile) {
            EXPECT_EQ(testutil::readFile(errorFile),
                      "Socket create error - Port A\n" + line + "\n");
        } else {
            // Given back, the terminal shows the line as a row of its own.
            ASSERT_TRUE(tmux.waitForText(line, 10000)) << tmux.screen();
            const std::vector<std::string> rows = tmux.rows();
            EXPECT_EQ(std::count_if(rows.begin(), rows.end(),
                                    [&](const std::string& row) {
                                        return row.substr(0, row.find_last_not_of(' ') + 1) == line;
                                    }),
                      1)
                << tmux.screen();
        }
    }
}
