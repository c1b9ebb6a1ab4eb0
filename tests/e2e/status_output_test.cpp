// The built binary's standard output as a hostile or careless world treats it (addresses
// 127.101.2.0/24 to 127.101.5.0/24): a reader that stops after one line, a pipe that nobody
// reads (standard output, or standard error with the event log), and a station whose name holds
// control bytes. Relaying and ticks go on, the server signs off on SIGTERM, and one status change
// is one escaped line.
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/tcp_sink.h"
#include "support/testutil.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using testutil::TempDir;
using testutil::TestStation;
using Bytes = std::vector<uint8_t>;

namespace {

using Clock = std::chrono::steady_clock;

std::string account(const std::string& directory) {
    return "[callsign]\nuser=*E2E*\ndesc=END TO END\nvalid=PW\n[server]\nver=618\n1=" + directory +
           "\n";
}

// The server with its standard output (or, with pipedFd 2, its standard error) on a pipe
// that the test holds (and may close or never read), the other one in a file.
class PipedServer {
  public:
    PipedServer(const std::vector<std::string>& args, const std::string& otherFile,
                int pipedFd = 1) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], pipedFd);
        posix_spawn_file_actions_addopen(&actions, pipedFd == 1 ? 2 : 1, otherFile.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<std::string> strings = {CONFSERVER_BINARY};
        strings.insert(strings.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& s : strings) {
            argv.push_back(s.data());
        }
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, strings[0].c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        out_ = out[0];
    }
    ~PipedServer() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        closeOutput();
    }
    // The first line of standard output (waits up to timeoutMs), as `head -1` reads it.
    std::string firstLine(int timeoutMs) {
        std::string text;
        auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (text.find('\n') == std::string::npos && Clock::now() < end) {
            pollfd p{out_, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) {
                char c = 0;
                if (read(out_, &c, 1) != 1) {
                    break;
                }
                text.push_back(c);
            }
        }
        return text;
    }
    void closeOutput() {
        if (out_ >= 0) {
            close(out_);
            out_ = -1;
        }
    }
    bool running() { return pid_ > 0 && !exited_ && waitpid(pid_, &status_, WNOHANG) == 0; }
    // SIGTERM, then the exit code (-1 when it did not end within timeoutMs).
    int stop(int timeoutMs) {
        kill(pid_, SIGTERM);
        auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (Clock::now() < end) {
            if (waitpid(pid_, &status_, WNOHANG) == pid_) {
                exited_ = true;
                return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
            }
            poll(nullptr, 0, 10);
        }
        return -1;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    int status_ = 0;
    bool exited_ = false;
};

// Makes the server change its status line twice: audio from an address that is no
// station ("UNREGISTERED DATA"), then a control datagram too short ("CNTL PKT ERROR").
void twoStatusChanges(testutil::UdpPeer& stranger, const std::string& server) {
    stranger.sendTo(server, 5198, Bytes(20, 0x55));
    stranger.sendTo(server, 5199, std::string("abcd"));
}

TEST(StatusOutput, AReaderThatStopsAfterOneLineNeitherStopsNorKillsTheServer) {
    TempDir dir;
    testutil::TcpSink directory("127.101.2.9", 5200);
    ASSERT_TRUE(directory.ok());
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, account("127.101.2.9"));
    // Real time: no station is silent long enough here to time out.
    PipedServer server({"-m", "--config", config, "--bind", "127.101.2.1"}, dir.file("stderr"));
    std::string first = server.firstLine(5000);
    ASSERT_GE(first.size(), 8u) << testutil::readFile(dir.file("stderr"));
    EXPECT_EQ(first.substr(first.size() - 8), " cVARDE\n");
    server.closeOutput(); // `| head -1` is done

    TestStation talker("127.101.2.2");
    TestStation listener("127.101.2.3");
    testutil::UdpPeer stranger("127.101.2.4", 0);
    talker.sendControl("127.101.2.1", testutil::namePacket("T1"));
    listener.sendControl("127.101.2.1", testutil::namePacket("L1"));
    Bytes got;
    ASSERT_TRUE(listener.control.receive(got, 5000)); // admitted
    // 1000 datagrams, each after two status changes that can no longer be written: the
    // server goes on relaying them, in order. (Audio from the stranger may now and then
    // trip the flood guard, which throws a waiting datagram away: that is its job, so a
    // few may miss; a server that died or hangs relays none after the first change.)
    int relayed = 0;
    int last = -1;
    auto deadline = Clock::now() + std::chrono::seconds(60);
    auto receiveUpTo = [&](int index) {
        Bytes in;
        while (last < index && Clock::now() < deadline && listener.audio.receive(in, 200)) {
            if (in.size() != 144) {
                EXPECT_EQ(std::string(in.begin(), in.begin() + 6), "oNDATA");
                continue; // the station list, a standby beacon
            }
            int n = in[0] << 8 | in[1];
            EXPECT_GT(n, last);
            EXPECT_EQ(Bytes(in.begin() + 2, in.end()), Bytes(142, static_cast<uint8_t>(n)));
            last = n;
            ++relayed;
        }
    };
    for (int i = 0; i < 1000 && Clock::now() < deadline; ++i) {
        twoStatusChanges(stranger, "127.101.2.1");
        Bytes voice(144, static_cast<uint8_t>(i));
        voice[0] = static_cast<uint8_t>(i >> 8);
        voice[1] = static_cast<uint8_t>(i);
        talker.sendAudio("127.101.2.1", voice);
        receiveUpTo(i); // paced: no flood of our own
    }
    EXPECT_GE(relayed, 900);
    // One more, alone: it arrives.
    Bytes voice(144, static_cast<uint8_t>(1000));
    voice[0] = 1000 >> 8;
    voice[1] = 1000 & 0xFF;
    talker.sendAudio("127.101.2.1", voice);
    receiveUpTo(1000);
    EXPECT_EQ(last, 1000);
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.stop(15000), 0);
    EXPECT_EQ(directory.waitForClose(5000), "l*E2E*\xAC\xACPW\rOFF-V3.65C\rEND TO END\r");
}

TEST(StatusOutput, APipeThatNobodyReadsLetsTicksAndKeepAlivesGoOn) {
    TempDir dir;
    testutil::TcpSink directory("127.101.3.9", 5200);
    ASSERT_TRUE(directory.ok());
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, account("127.101.3.9"));
    // Time 50 times faster: a keep-alive every 20 ticks is one every 400 ms.
    PipedServer server({"-m", "--config", config, "--bind", "127.101.3.1", "--time-scale", "50"},
                       dir.file("stderr"));
    TestStation station("127.101.3.2");
    testutil::UdpPeer stranger("127.101.3.4", 0);
    Bytes first;
    bool admitted = false;
    for (int i = 0; i < 50 && !admitted; ++i) { // until the server is up
        station.sendControl("127.101.3.1", testutil::namePacket("S1"));
        admitted = station.control.receive(first, 100);
    }
    ASSERT_TRUE(admitted) << testutil::readFile(dir.file("stderr"));
    // Far more status lines than the pipe and the server's queue hold (about 40 bytes
    // each), and more between the keep-alives.
    for (int i = 0; i < 5000; ++i) {
        twoStatusChanges(stranger, "127.101.3.1");
    }
    // 60 seconds of the server's time: the keep-alives at 20, 40 and 60 ticks arrive (each
    // the same compound as the first), while the status changes go on.
    int keepAlives = 0;
    auto end = Clock::now() + std::chrono::seconds(10);
    while (keepAlives < 3 && Clock::now() < end) {
        for (int i = 0; i < 200; ++i) {
            twoStatusChanges(stranger, "127.101.3.1");
        }
        Bytes got;
        if (station.control.receive(got, 100)) {
            EXPECT_EQ(got, first);
            ++keepAlives;
        }
    }
    EXPECT_EQ(keepAlives, 3);
    EXPECT_TRUE(server.running());
    // Standard output still full and unread: SIGTERM still signs off and ends the server.
    EXPECT_EQ(server.stop(15000), 0);
    EXPECT_EQ(directory.waitForClose(5000), "l*E2E*\xAC\xACPW\rOFF-V3.65C\rEND TO END\r");
}

TEST(StatusOutput, AStandardErrorThatNobodyReadsLetsTheEventLogAndKeepAlivesGoOn) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    // One station at most (maxusers 0): every control packet of another address is refused,
    // and each refusal is one event line (about 30 bytes) on standard error.
    testutil::writeFile(config, account("127.101.5.9") + "maxusers=0\n");
    PipedServer server({"-m", "--config", config, "--bind", "127.101.5.1", "--time-scale", "50"},
                       dir.file("stdout"), 2);
    TestStation station("127.101.5.2");
    testutil::UdpPeer stranger("127.101.5.4", 0);
    Bytes first;
    bool admitted = false;
    for (int i = 0; i < 50 && !admitted; ++i) { // until the server is up
        station.sendControl("127.101.5.1", testutil::namePacket("S1"));
        admitted = station.control.receive(first, 100);
    }
    ASSERT_TRUE(admitted);
    // Far more event lines than the pipe (64 KiB) and the server's queue hold.
    int keepAlives = 0;
    auto end = Clock::now() + std::chrono::seconds(10);
    while (keepAlives < 3 && Clock::now() < end) {
        for (int i = 0; i < 2000; ++i) {
            stranger.sendTo("127.101.5.1", 5199, testutil::emptyReceiverReport());
        }
        Bytes got;
        while (station.control.receive(got, 50)) {
            EXPECT_EQ(got, first);
            ++keepAlives;
        }
    }
    EXPECT_GE(keepAlives, 3);
    EXPECT_TRUE(server.running());
    EXPECT_EQ(server.stop(15000), 0);
}

TEST(StatusOutput, ANameWithControlBytesIsOneEscapedLineAndUnchangedOnTheWire) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    testutil::writeFile(config, account("127.101.4.9"));
    testutil::ServerProcess server({"-m", "--config", config, "--bind", "127.101.4.1"});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    const std::string name = "X\x1b]0;OWNED\x07\r\n1999-01-01 00:00:00.000 FAKE\x7f\\";
    TestStation talker("127.101.4.2");
    TestStation listener("127.101.4.3");
    talker.sendControl("127.101.4.1", testutil::namePacket(name));
    listener.sendControl("127.101.4.1", testutil::namePacket("L1"));
    Bytes got;
    ASSERT_TRUE(listener.control.receive(got, 5000));
    ASSERT_TRUE(talker.control.receive(got, 5000));
    talker.sendAudio("127.101.4.1", Bytes(144, 1)); // takes the lock: the list text is built
    const std::string escaped =
        ">>X\\x1B]0;OWNED\\x07\\x0D\\x0A1999-01-01 00:00:00.000 FAKE\\x7F\\\\<< Que=0";
    ASSERT_TRUE(server.waitForStatus(escaped, 5000));
    talker.sendAudio("127.101.4.1", Bytes(144, 2)); // carries the list text
    std::string list;
    for (int i = 0; i < 4 && list.empty(); ++i) {
        if (listener.audio.receive(got, 2000) && got.size() != 144) {
            list.assign(got.begin(), got.end());
        }
    }
    // (A hint for linked stations may follow the list: the name is what matters here.)
    EXPECT_EQ(list.rfind(std::string("oNDATACONF V3.67:\r\rL1\r") + name + " <\r", 0), 0u) << list;
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    // No line of standard output holds a control byte, and no forged line got in.
    for (const std::string& line : server.lines()) {
        for (char c : line) {
            EXPECT_FALSE(static_cast<unsigned char>(c) < 32 || c == 127) << line;
        }
        EXPECT_NE(line.rfind("1999-01-01", 0), 0u) << line;
    }
}

} // namespace
