// The built binary: --check-config on a good, an unconfigured and a faulty file (exact
// output, exit code, nothing written), and two conferences started the way the template
// unit starts them, on two loopback addresses at once, each with its own access file.
// Addresses 127.112.20.0 - 127.112.22.255.
#include "config/account.h"
#include "support/server_harness.h"
#include "support/server_process.h"
#include "support/testutil.h"

#include <cctype>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <sys/stat.h>

using testutil::ServerProcess;
using testutil::TempDir;

namespace {

// Runs the binary with args and gives its whole standard output and exit code.
std::string run(const std::vector<std::string>& args, int* exitCode) {
    ServerProcess process(args);
    *exitCode = process.waitExit(20000);
    std::string out;
    for (const std::string& line : process.lines()) {
        out += line + "\n";
    }
    return out;
}

std::string writeMode(const std::string& path, const std::string& content, mode_t mode) {
    testutil::writeFile(path, content);
    chmod(path.c_str(), mode);
    return path;
}

// Splits a line into words at blanks.
std::vector<std::string> words(const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> out;
    for (std::string w; in >> w;) {
        out.push_back(w);
    }
    return out;
}

bool contains(const std::vector<uint8_t>& bytes, const std::string& text) {
    return std::string(bytes.begin(), bytes.end()).find(text) != std::string::npos;
}

} // namespace

TEST(CheckConfig, GoodFilePrintsEveryKeyWithItsSourceAndExitsZero) {
    TempDir dir;
    std::string config = writeMode(dir.file("club.ini"),
                                   "[callsign]\nuser=*CLUB*\ndesc=CLUB NET\nvalid=S3CRET\n"
                                   "[server]\n1=127.0.0.1\n2=localhost\n3=127.0.0.2\n"
                                   "4=127.0.0.3\nver=618\n[access]\nfile=club.access\n",
                                   0600);
    testutil::writeFile(dir.file("club.access"), "allow 127.112.0.0/16\ndeny N0CALL\n");
    std::string before = testutil::readFile(config);
    int rc = -1;
    std::string out = run({"--check-config", "--config", config}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(out, "configuration file: " + config +
                       "\n"
                       "[callsign] user = *CLUB* (file)\n"
                       "[callsign] desc = CLUB NET (file)\n"
                       "[callsign] valid = set (file)\n"
                       "[server] 1 = 127.0.0.1 (file)\n"
                       "[server] 2 = localhost (file)\n"
                       "[server] 3 = 127.0.0.2 (file)\n"
                       "[server] 4 = 127.0.0.3 (file)\n"
                       "[server] maxusers = 8 (default)\n"
                       "[server] ver = 618 (file)\n"
                       "[help] c = 0 (default)\n"
                       "[window] x1 = 0 (default)\n"
                       "[window] y1 = 0 (default)\n"
                       "[access] file = " +
                       dir.file("club.access") +
                       " (file)\n"
                       "[monitor] http = none (default)\n"
                       "[limits] talk = none (default)\n"
                       "[limits] rate = none (default)\n"
                       "[limits] unnamed = none (default)\n"
                       "no problems\n"
                       "the server would serve\n");
    EXPECT_EQ(testutil::readFile(config), before); // nothing written, no ver, no position
    EXPECT_EQ(run({"--check-config", "--strict", "--config", config}, &rc), out);
    EXPECT_EQ(rc, 0);
}

TEST(CheckConfig, ThePackagesUnconfiguredTemplateWouldNotServe) {
    TempDir dir;
    std::string config =
        writeMode(dir.file("omvarc.ini"),
                  testutil::readFile(CONFSERVER_SOURCE_DIR "/packaging/omvarc.ini"), 0600);
    std::string before = testutil::readFile(config);
    int rc = -1;
    std::string out = run({"--check-config", "--config", config}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "configuration file: " + config +
                       "\n"
                       "[callsign] user =  (file)\n"
                       "[callsign] desc = none (file)\n"
                       "[callsign] valid = not set (file)\n"
                       "[server] 1 = localhost (file)\n"
                       "[server] 2 = localhost (file)\n"
                       "[server] 3 = localhost (file)\n"
                       "[server] 4 = 127.0.0.1 (file)\n"
                       "[server] maxusers = 8 (file)\n"
                       "[server] ver = 618 (file)\n"
                       "[help] c = 0 (file)\n"
                       "[window] x1 = 0 (default)\n"
                       "[window] y1 = 0 (default)\n"
                       "[access] file = none (default)\n"
                       "[monitor] http = none (default)\n"
                       "[limits] talk = 180 (file)\n"
                       "[limits] rate = 60 (file)\n"
                       "[limits] unnamed = 10 (file)\n"
                       "error: the account is not set up: [callsign] desc is \"none\"; set "
                       "user, desc and valid\n"
                       "error: [callsign] user is empty\n"
                       "error: [callsign] valid is empty\n"
                       "the server would not serve\n");
    EXPECT_EQ(testutil::readFile(config), before);
}

TEST(CheckConfig, EveryProblemIsNamedOnceAndInOrder) {
    TempDir dir;
    // "bad..name" is only shown: the check resolves no name.
    std::string config = writeMode(dir.file("bad.ini"),
                                   "[callsign]\nuser=*BAD*\ndesc=none\nvalid=OPEN\n"
                                   "[server]\n1=127.0.0.1\n2=bad..name\n3=localhost\n"
                                   "4=127.0.0.1\nmaxusers=100\nver=618\n[window]\nx1=12\n",
                                   0644);
    std::string access = dir.file("bad.access");
    testutil::writeFile(access, std::string("allow 127.0.0.0/8\r\ndeny 10.0.0.0/33\r\n"
                                            "junk\r\ndeny 1.2.3.4.5\r\ndeny A\x01Z\r\n"
                                            "deny " +
                                            std::string(300, 'Q') + "\r\ndeny G4*"));
    int rc = -1;
    std::string out = run({"--config", config, "--check-config", "--access", access}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_EQ(out, "configuration file: " + config +
                       "\n"
                       "[callsign] user = *BAD* (file)\n"
                       "[callsign] desc = none (file)\n"
                       "[callsign] valid = set (file)\n"
                       "[server] 1 = 127.0.0.1 (file)\n"
                       "[server] 2 = bad..name (file)\n"
                       "[server] 3 = localhost (file)\n"
                       "[server] 4 = 127.0.0.1 (file)\n"
                       "[server] maxusers = 100 (file)\n"
                       "[server] ver = 618 (file)\n"
                       "[help] c = 0 (default)\n"
                       "[window] x1 = 12 (file)\n"
                       "[window] y1 = 0 (default)\n"
                       "[access] file = " +
                       access + " (command line)\n" +
                       "[monitor] http = none (default)\n"
                       "[limits] talk = none (default)\n"
                       "[limits] rate = none (default)\n"
                       "[limits] unnamed = none (default)\n"
                       "warning: " +
                       config +
                       " is readable by others and holds the password (chmod 600 it)\n"
                       "error: the account is not set up: [callsign] desc is \"none\"; set "
                       "user, desc and valid\n"
                       "warning: [server] maxusers 100 is above 25: the capacity is 25\n"
                       "warning: " +
                       access + ":2: prefix length above 32: 10.0.0.0/33\n" + "warning: " + access +
                       ":3: unknown word (allow or deny expected): junk\n" + "warning: " + access +
                       ":4: not an IPv4 address: 1.2.3.4.5\n" + "warning: " + access +
                       ":5: a byte that cannot be in a pattern: A\\x01Z\n" + "warning: " + access +
                       ":6: pattern longer than 63 characters: " + std::string(64, 'Q') + "\n" +
                       "the server would not serve\n");

    // Below 0 is an error of its own; a missing file is one too.
    testutil::writeFile(config, "[callsign]\nuser=*B*\ndesc=B\nvalid=\n[server]\n1=127.0.0.1\n"
                                "2=127.0.0.1\n3=127.0.0.1\n4=127.0.0.1\nmaxusers=-1\n");
    out = run({"--check-config", "--config", config}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("\nerror: [server] maxusers -1 is below 0: every station is refused\n"),
              std::string::npos)
        << out;
    EXPECT_TRUE(out.ends_with("\nthe server would not serve\n")) << out;
    std::string missing = dir.file("missing.ini");
    out = run({"--check-config", "--config", missing}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_NE(out.find("\nerror: " + missing + ": no such file\n"), std::string::npos) << out;
    EXPECT_FALSE(testutil::fileExists(missing));
}

TEST(CheckConfig, EachMistakeIsToldWithWhatTheServerWouldDoAndNothingTouchesTheNetwork) {
    TempDir dir;
    std::string config = writeMode(dir.file("bad.ini"),
                                   "[callsign]\nuser=*BAD*\ndesc=BAD INPUT\nvalid=\n"
                                   "[sever]\n1=127.0.0.1\n"
                                   "[server]\n1=FIND\n2=\n3=127.0.0.1\n4=127.0.0.1\nmaxuser=30\n"
                                   "maxusers = 12x\n"
                                   "[monitor]\nhttp=127.0.0.1:99999\n"
                                   "[access]\nfile=missing.access\n"
                                   "[limits]\ntalk=0\nrate=5x\nunnamed=-3\n[links]\n1=127.0.0.2\n",
                                   0600);
    std::string before = testutil::readFile(config);
    // Any socket or name lookup ends the check with exit code 99 and names the call.
    const std::string guard = std::string("LD_PRELOAD=") + CONFSERVER_NO_NETWORK;
    // The sanitizer build's runtime asks to come first among the libraries; the guard loads
    // before it, which is harmless for what the guard does.
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string linkOrder = std::string("ASAN_OPTIONS=") +
                                  (sanitizer != nullptr ? sanitizer : "") +
                                  ":verify_asan_link_order=0";
    ServerProcess check({"--check-config", "--config", config}, {guard, linkOrder});
    EXPECT_EQ(check.waitExit(20000), 1) << check.standardError();
    EXPECT_EQ(check.standardError(), "");
    std::string out;
    for (const std::string& line : check.lines()) {
        out += line + "\n";
    }
    const char* const* servers = defaultDirectoryServers;
    EXPECT_EQ(out, "configuration file: " + config +
                       "\n"
                       "[callsign] user = *BAD* (file)\n"
                       "[callsign] desc = BAD INPUT (file)\n"
                       "[callsign] valid = not set (file)\n"
                       "[server] 1 = FIND (file)\n"
                       "[server] 2 =  (file)\n"
                       "[server] 3 = 127.0.0.1 (file)\n"
                       "[server] 4 = 127.0.0.1 (file)\n"
                       "[server] maxusers = 12 (file)\n"
                       "[server] ver = NONE (default)\n"
                       "[help] c = 0 (default)\n"
                       "[window] x1 = 0 (default)\n"
                       "[window] y1 = 0 (default)\n"
                       "[access] file = " +
                       dir.file("missing.access") +
                       " (file)\n"
                       "[monitor] http = 127.0.0.1:99999 (file)\n"
                       "[limits] talk = 0 (file)\n"
                       "[limits] rate = 5 (file)\n"
                       "[limits] unnamed = -3 (file)\n"
                       "[links] 1 = 127.0.0.2 (file)\n"
                       "warning: " +
                       config +
                       ":5: [sever]: unknown section, not read (did you mean [server]?)\n"
                       "warning: " +
                       config +
                       ":12: [server] maxuser: unknown key, not read (did you mean maxusers?)\n"
                       "error: [callsign] valid is empty\n"
                       "warning: [server] maxusers = 12x reads as 12\n"
                       "warning: [server] ver is not set: the next start writes [server] 1 = " +
                       servers[0] + ", 2 = " + servers[1] + ", 3 = " + servers[2] +
                       ", 4 = " + servers[3] +
                       ", maxusers = 8 and ver = 618\n"
                       "warning: [server] 1 = FIND is a placeholder, not a directory server\n"
                       "warning: [server] 2 is empty: no directory server\n"
                       "error: [monitor] http = 127.0.0.1:99999 is not an IPv4 address and a "
                       "port from 1 to 65535: the server would not start\n"
                       "warning: [limits] talk = 0 is no limit, and the server listens on an "
                       "address that is not loopback\n"
                       "warning: [limits] rate = 5x reads as 5\n"
                       "error: [limits] unnamed -3 is below 0: a limit is a number from 0 up\n"
                       "error: " +
                       dir.file("missing.access") +
                       ": no such file: the server would not start\n"
                       "the server would not serve\n");
    EXPECT_EQ(testutil::readFile(config), before);
    int entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        EXPECT_EQ(entry.path().filename(), "bad.ini");
        ++entries;
    }
    EXPECT_EQ(entries, 1); // nothing written beside it

    // The guard is in force: the server itself, started under it, is stopped at its first
    // socket.
    ServerProcess server({"-m", "--config", config, "--bind", "127.112.23.1"}, {guard, linkOrder});
    EXPECT_EQ(server.waitExit(20000), 99);
    EXPECT_NE(server.standardError().find("no_network: the program called socket"),
              std::string::npos)
        << server.standardError();
}

TEST(CheckConfig, StrictFailsOnWarningsAndNoLimitIsFineOnLoopback) {
    TempDir dir;
    std::string config = writeMode(dir.file("warn.ini"),
                                   "[callsign]\nuser=*W*\ndesc=WARN\nvalid=PW\n"
                                   "[server]\n1=127.0.0.1\n2=127.0.0.1\n3=127.0.0.1\n"
                                   "4=127.0.0.1\nver=618\n[limits]\ntalk=0\n",
                                   0600);
    int rc = -1;
    std::string out = run({"--check-config", "--config", config, "--bind", "127.0.0.9"}, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(out.ends_with("[limits] unnamed = none (default)\nno problems\n"
                              "the server would serve\n"))
        << out;
    out = run({"--check-config", "--config", config, "--strict"}, &rc);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(out.ends_with("warning: [limits] talk = 0 is no limit, and the server listens on "
                              "an address that is not loopback\n"
                              "the server would serve, but --strict fails the check on 1 "
                              "warning\n"))
        << out;
    out = run({"--check-config", "--config", config}, &rc);
    EXPECT_EQ(rc, 0) << out;
}

TEST(TemplateUnit, TwoConferencesOnTwoAddressesAtOnceEachWithItsOwnRules) {
    // The unit's own lines, with /etc/confserver in a temporary directory and %i the name.
    std::ifstream unitFile(CONFSERVER_SOURCE_DIR "/packaging/confserver@.service");
    std::string execStart;
    std::string environmentFile;
    for (std::string line; std::getline(unitFile, line);) {
        if (line.rfind("ExecStart=", 0) == 0) {
            execStart = line.substr(10);
        } else if (line.rfind("EnvironmentFile=-", 0) == 0) {
            environmentFile = line.substr(17);
        }
    }
    ASSERT_EQ(environmentFile, "/etc/confserver/%i.env");
    ASSERT_EQ(execStart,
              "/usr/bin/confserver -m --config /etc/confserver/%i.ini $CONFSERVER_OPTIONS");
    TempDir etc;
    auto place = [&](std::string text, const std::string& name) {
        for (size_t at; (at = text.find("/etc/confserver")) != std::string::npos;) {
            text.replace(at, 15, etc.path());
        }
        for (size_t at; (at = text.find("%i")) != std::string::npos;) {
            text.replace(at, 2, name);
        }
        return text;
    };
    struct Instance {
        std::string name, node, address, deniedStation, station;
    } instances[] = {{"one", "*ONE*", "127.112.20.1", "127.112.21.9", "127.112.21.1"},
                     {"two", "*TWO*", "127.112.20.2", "127.112.22.9", "127.112.22.1"}};
    std::vector<std::unique_ptr<ServerProcess>> servers;
    for (const Instance& in : instances) {
        testutil::writeFile(etc.file(in.name + ".ini"),
                            "[callsign]\nuser=" + in.node + "\ndesc=" + in.name +
                                "\nvalid=PW\n[server]\n1=127.112.20.250\nver=618\n");
        testutil::writeFile(etc.file(in.name + ".access"),
                            "deny " + in.deniedStation + "\nthis line is wrong\n");
        testutil::writeFile(place(environmentFile, in.name),
                            "# options of conference " + in.name + "\nCONFSERVER_OPTIONS=--bind " +
                                in.address + " --time-scale 50 --access " +
                                etc.file(in.name + ".access") + "\n");
        // The environment file as systemd reads it: NAME=value lines, '#' comments.
        std::string options;
        std::ifstream env(place(environmentFile, in.name));
        for (std::string line; std::getline(env, line);) {
            if (line.rfind("CONFSERVER_OPTIONS=", 0) == 0) {
                options = line.substr(19);
            }
        }
        std::string command = place(execStart, in.name);
        command.replace(command.find("$CONFSERVER_OPTIONS"), 19, options);
        std::vector<std::string> argv = words(command);
        ASSERT_EQ(argv.at(0), "/usr/bin/confserver");
        argv.erase(argv.begin());
        servers.push_back(std::make_unique<ServerProcess>(argv));
    }
    for (auto& server : servers) {
        ASSERT_TRUE(server->waitForStatus("cVARDE", 5000)) << server->standardError();
    }
    for (size_t i = 0; i < 2; ++i) {
        const Instance& in = instances[i];
        testutil::TestStation station(in.station);
        testutil::TestStation denied(in.deniedStation);
        station.sendControl(in.address, testutil::emptyReceiverReport());
        denied.sendControl(in.address, testutil::emptyReceiverReport());
        std::vector<uint8_t> keepAlive;
        ASSERT_TRUE(station.control.receive(keepAlive, 5000)) << in.name;
        EXPECT_TRUE(contains(keepAlive, in.node)) << in.name;
        EXPECT_FALSE(contains(keepAlive, instances[1 - i].node)) << in.name;
        // 40 ticks at scale 50: two keep-alives had reached an admitted station by now.
        std::vector<uint8_t> got;
        EXPECT_FALSE(denied.control.receive(got, 800)) << in.name;
        EXPECT_TRUE(denied.audio.drain().empty()) << in.name;
    }
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(servers[i]->stop(SIGTERM, 15000), 0);
        std::string err = servers[i]->standardError();
        std::string report = "confserver: " + etc.file(instances[i].name + ".access") +
                             ":2: unknown word (allow or deny expected): this\n";
        EXPECT_NE(err.find(report), std::string::npos) << err;
        EXPECT_EQ(err.find(report), err.rfind(report)) << err; // once
        // The denial reaches the event log (line 1 of the access file), after the local time.
        size_t deny = err.find("event deny - " + instances[i].deniedStation);
        ASSERT_NE(deny, std::string::npos) << err;
        const std::string shape = "\ndddd-dd-dd dd:dd:dd.ddd ";
        ASSERT_GE(deny, shape.size()) << err;
        for (size_t k = 0; k < shape.size(); ++k) {
            char c = err[deny - shape.size() + k];
            EXPECT_TRUE(shape[k] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0
                                        : c == shape[k])
                << err;
        }
    }
}
