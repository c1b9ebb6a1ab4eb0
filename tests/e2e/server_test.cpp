// The built binary, minimised, over loopback (addresses 127.40.0.0/16): start-up lines,
// exit codes, signals, the sign-off, the companion program, stations in scaled time.
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/tcp_sink.h"
#include "support/testutil.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>
#include <thread>

using testutil::ServerProcess;
using testutil::TempDir;

namespace {

const char* const ACCOUNT = "[callsign]\nuser=*E2E*\ndesc=END TO END\nvalid=PW\n"
                            "[server]\nver=618\n";

// Writes a configuration file into dir and returns its path.
std::string configIn(const TempDir& dir, const std::string& content) {
    std::string path = dir.file("omvarc.ini");
    testutil::writeFile(path, content);
    return path;
}

} // namespace

TEST(Binary, StartsWithTheTitleLineAndClosesOnSigterm) {
    TempDir dir;
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.1"});
    ASSERT_TRUE(server.started());
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    std::regex stamp(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} cVARDE)");
    EXPECT_TRUE(std::regex_match(server.lines().at(0), stamp)) << server.lines().at(0);
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    // The file is the same: minimised windows keep their position.
    EXPECT_EQ(testutil::readFile(config), std::string(ACCOUNT) + "1=127.40.9.1\n");
}

TEST(Binary, SecondServerOnTheSameAddressFailsAndTheFirstKeepsWorking) {
    TempDir dir;
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    ServerProcess first({"-m", "--config", config, "--bind", "127.40.0.2", "--time-scale", "50"});
    ASSERT_TRUE(first.waitForStatus("cVARDE", 5000)) << first.standardError();
    ServerProcess second({"-m", "--config", config, "--bind", "127.40.0.2"});
    EXPECT_EQ(second.waitExit(10000), 1);
    EXPECT_NE(second.standardError().find("Socket create error - Port A"), std::string::npos)
        << second.standardError();
    EXPECT_TRUE(second.statuses().empty());

    testutil::TestStation station("127.40.1.1");
    station.sendControl("127.40.0.2", testutil::emptyReceiverReport());
    std::vector<uint8_t> keepAlive;
    ASSERT_TRUE(station.control.receive(keepAlive, 5000));
    EXPECT_EQ(keepAlive.size(), 52u); // NAME "*E2E*": five characters, no padding
    EXPECT_EQ(first.stop(SIGTERM, 15000), 0);
}

TEST(Binary, BadCommandLineIsOneLineAndExitTwo) {
    for (std::vector<std::string> args :
         {std::vector<std::string>{"--frobnicate"}, {"--time-scale", "0"}, {"--bind", "nowhere"}}) {
        ServerProcess server(args);
        EXPECT_EQ(server.waitExit(5000), 2) << args[0];
        std::string err = server.standardError();
        EXPECT_FALSE(err.empty());
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_TRUE(server.lines().empty());
    }
    ServerProcess version({"--version"});
    EXPECT_EQ(version.waitExit(5000), 0);
    ASSERT_FALSE(version.lines().empty());
    EXPECT_EQ(version.lines()[0], "confserver " CONFSERVER_VERSION);
}

TEST(Binary, FirstRunMinimisedSaysWhichKeysToSetAndExitsTwo) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini"); // no file at all
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.3"});
    EXPECT_EQ(server.waitExit(5000), 2);
    std::string err = server.standardError();
    EXPECT_NE(err.find("[callsign] user"), std::string::npos) << err;
    EXPECT_NE(err.find(config), std::string::npos) << err;
    EXPECT_FALSE(testutil::fileExists(config));
}

TEST(Binary, EverySignalSignsOffAndExitsZero) {
    int index = 0;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        TempDir dir;
        std::string directoryAddress = "127.40.2." + std::to_string(++index);
        testutil::TcpSink directory(directoryAddress, 5200);
        ASSERT_TRUE(directory.ok());
        std::string config = configIn(dir, std::string(ACCOUNT) + "1=" + directoryAddress + "\n");
        ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.4"});
        ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
        EXPECT_EQ(server.stop(sig, 15000), 0) << sig;
        EXPECT_EQ(directory.waitForClose(5000),
                  std::string("l*E2E*\xAC\xACPW\rOFF-V3.65C\rEND TO END\r"))
            << sig;
    }
}

TEST(Binary, StartsTheCompanionProgramThroughPath) {
    TempDir dir;
    std::string marker = dir.file("companion-started");
    std::string script = dir.file("gdi.exe");
    testutil::writeFile(script, "#!/bin/sh\necho started > " + marker + "\n");
    chmod(script.c_str(), 0755);
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    const char* path = getenv("PATH");
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.5"},
                         {"PATH=" + dir.path() + ":" + (path ? path : "/usr/bin:/bin")});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    for (int i = 0; i < 200 && !testutil::fileExists(marker); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(testutil::fileExists(marker));
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
}

TEST(Binary, StationLifeInScaledTime) {
    TempDir dir;
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.6", "--time-scale", "100"});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    testutil::TestStation a("127.40.3.1");
    testutil::TestStation b("127.40.3.2");
    a.sendControl("127.40.0.6", testutil::namePacket("A1"));
    b.sendControl("127.40.0.6", testutil::namePacket("B2"));
    std::vector<uint8_t> got;
    ASSERT_TRUE(a.control.receive(got, 5000)); // first keep-alive
    // Audio from A reaches B unchanged.
    std::vector<uint8_t> voice(144, 0x42);
    a.sendAudio("127.40.0.6", voice);
    ASSERT_TRUE(b.audio.receive(got, 5000));
    EXPECT_EQ(got, voice);
    // The beacon follows when the audio stops (3 beacon ticks: 45 ms at scale 100).
    bool beacon = false;
    for (int i = 0; i < 50 && !beacon; ++i) {
        if (b.audio.receive(got, 100)) {
            beacon = std::string(got.begin(), got.end()).rfind("oNDATACONF V3.67:    <SB>", 0) == 0;
        }
    }
    EXPECT_TRUE(beacon);
    // A BYE closes A.
    a.sendControl("127.40.0.6", testutil::receiverReportWithBye());
    EXPECT_TRUE(server.waitForStatus("CLOSING...", 5000));
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
}

TEST(Binary, FloodStillLetsStationsJoinAndTicksRun) {
    TempDir dir;
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.7", "--time-scale", "20"});
    ASSERT_TRUE(server.waitForStatus("cVARDE", 5000)) << server.standardError();
    testutil::TestStation talker("127.40.4.1");
    testutil::TestStation listener("127.40.4.2");
    talker.sendControl("127.40.0.7", testutil::namePacket("T"));
    listener.sendControl("127.40.0.7", testutil::namePacket("L"));
    std::vector<uint8_t> got;
    ASSERT_TRUE(talker.control.receive(got, 5000));

    std::atomic<bool> flooding{true};
    std::thread flood([&] {
        std::vector<uint8_t> voice(144, 0x33);
        for (int i = 0; i < 200000 && flooding; ++i) {
            talker.sendAudio("127.40.0.7", voice);
        }
    });
    // While the flood goes on, a new station is admitted and gets its keep-alive.
    testutil::TestStation late("127.40.4.3");
    late.sendControl("127.40.0.7", testutil::namePacket("LATE"));
    bool keepAlive = late.control.receive(got, 10000);
    flooding = false;
    flood.join();
    EXPECT_TRUE(keepAlive);
    listener.audio.drain();
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
}

TEST(Binary, AnotherProgramsWindowStopsTheStartAndIsBroughtForward) {
    TempDir dir;
    std::string config = configIn(dir, std::string(ACCOUNT) + "1=127.40.9.1\n");
    const std::string helper = CONFSERVER_TEST_HELPERS_DIR "/fake_other_program";
    for (bool minimised : {true, false}) {
        std::vector<std::string> args = {"Omvar_v", "--seconds", "20"};
        if (minimised) {
            args.push_back("--minimised");
        }
        ServerProcess other(args, {}, helper);
        ASSERT_TRUE(other.waitForRawLine("ready", 5000)) << other.standardError();
        ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.8"});
        EXPECT_EQ(server.waitExit(10000), 0);
        EXPECT_TRUE(server.lines().empty()); // nothing of the server ran
        EXPECT_TRUE(other.waitForRawLine(minimised ? "WM_SYSCOMMAND f120" : "focused", 5000));
        other.stop(SIGTERM, 5000);
    }
    // With the other program gone, the server starts.
    ServerProcess server({"-m", "--config", config, "--bind", "127.40.0.8"});
    EXPECT_TRUE(server.waitForStatus("cVARDE", 5000));
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
}
