// The built binary and what lies at its configuration path (addresses 127.102.0.0/16): what
// cannot be read stops the start with exit code 1 and nothing written, a missing file is
// named as missing, a password open to others is warned about, failed writes are told
// once, links are followed and kept, a byte-order mark is read past, and a signal ends a
// start-up that is held up (minimised, and at the terminal's account dialog and boxes).
#include "support/server_process.h"
#include "support/testutil.h"
#include "support/tmux_session.h"

#include <algorithm>
#include <csignal>
#include <dirent.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using testutil::ServerProcess;
using testutil::TempDir;
using testutil::TmuxSession;

namespace {

constexpr int kWait = 10000;
const char* const ACCOUNT = "[callsign]\nuser=*CFG*\ndesc=CONFIG PATH\nvalid=PW\n";
// Directory entries where nothing listens, so that the sign-off reaches no other test.
const char* const SERVERS = "[server]\n1=127.102.9.1\n2=127.102.9.1\n3=127.102.9.1\n"
                            "4=127.102.9.1\n";
const std::string HELPERS = CONFSERVER_TEST_HELPERS_DIR;

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

std::vector<std::string> minimised(const std::string& config, const std::string& bind) {
    return {"-m", "--config", config, "--bind", bind};
}

} // namespace

TEST(ConfigPath, WhatCannotBeReadStopsTheStartWithExitOneAndNothingWritten) {
    struct Case {
        const char* what;
        const char* reason;
    } cases[] = {{"fifo", "a FIFO, not a regular file"},
                 {"directory", "a directory, not a regular file"},
                 {"mode 000", "Permission denied"}};
    int index = 0;
    TempDir programs;
    for (const Case& c : cases) {
        TempDir dir;
        ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0); // nobody may look inside
        std::string config = dir.file("omvarc.ini");
        std::string what = c.what;
        std::string binary = CONFSERVER_BINARY;
        std::vector<std::string> args = minimised(config, "127.102.0." + std::to_string(++index));
        if (what == "fifo") {
            ASSERT_EQ(::mkfifo(config.c_str(), 0600), 0);
        } else if (what == "directory") {
            ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
        } else {
            testutil::writeFile(config, std::string(ACCOUNT) + SERVERS);
            ASSERT_EQ(::chmod(config.c_str(), 0), 0);
            if (::geteuid() == 0) {
                // Root reads a file of mode 000: the server runs as nobody instead, from a
                // copy that nobody can reach (the build tree may lie where nobody cannot).
                binary = testutil::copyForAnyUser(binary, programs);
                ASSERT_FALSE(binary.empty());
                args.insert(args.begin(), binary);
                binary = HELPERS + "/as_nobody";
            }
        }
        ServerProcess server(args, {}, binary);
        ASSERT_TRUE(server.started());
        EXPECT_EQ(server.waitExit(kWait), 1) << what << "\n" << server.standardError();
        std::string err = server.standardError();
        EXPECT_NE(err.find("ERROR: The configuration file " + config +
                           " cannot be read: " + c.reason + ". Nothing was changed.\n"),
                  std::string::npos)
            << what << "\n"
            << err;
        EXPECT_EQ(err.find("not set up"), std::string::npos) << err;
        EXPECT_TRUE(server.lines().empty()) << what;
        // Nothing was written: the same one entry, the same kind, no temporary file.
        EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"omvarc.ini"})
            << what;
        struct stat st {};
        ASSERT_EQ(::lstat(config.c_str(), &st), 0);
        if (what == "fifo") {
            EXPECT_TRUE(S_ISFIFO(st.st_mode));
        } else if (what == "directory") {
            EXPECT_TRUE(testutil::directoryEntries(config).empty());
        } else {
            EXPECT_EQ(st.st_mode & 07777, 0u);
            ASSERT_EQ(::chmod(config.c_str(), 0600), 0);
            EXPECT_EQ(testutil::readFile(config), std::string(ACCOUNT) + SERVERS);
        }
    }
}

TEST(ConfigPath, AMissingFileIsNamedAsMissingAndNotCreated) {
    TempDir dir;
    std::string config = dir.file("sub/omvarc.ini");
    ServerProcess server(minimised(config, "127.102.0.10"));
    EXPECT_EQ(server.waitExit(kWait), 2);
    std::string err = server.standardError();
    EXPECT_NE(err.find("The configuration file " + config +
                       " does not exist. Create it with "
                       "[callsign] user"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("not set up"), std::string::npos) << err;
    EXPECT_TRUE(testutil::directoryEntries(dir.path()).empty());

    // A file without the account says that the account is not set up.
    testutil::writeFile(dir.file("omvarc.ini"), SERVERS);
    ServerProcess again(minimised(dir.file("omvarc.ini"), "127.102.0.10"));
    EXPECT_EQ(again.waitExit(kWait), 2);
    EXPECT_NE(again.standardError().find("The account of this server is not set up."),
              std::string::npos)
        << again.standardError();
}

TEST(ConfigPath, APasswordOpenToOthersGivesOneWarningLine) {
    struct Case {
        mode_t mode;
        const char* content;
        int warnings;
    } cases[] = {{0644, "valid=PW\n", 1}, {0600, "valid=PW\n", 0}, {0644, "", 0}};
    for (const Case& c : cases) {
        TempDir dir;
        std::string config = dir.file("omvarc.ini");
        testutil::writeFile(config, std::string("[callsign]\nuser=*CFG*\ndesc=CONFIG PATH\n") +
                                        c.content + SERVERS + "ver=618\n");
        ASSERT_EQ(::chmod(config.c_str(), c.mode), 0);
        ServerProcess server(minimised(config, "127.102.0.11"));
        ASSERT_TRUE(server.waitForStatus("cVARDE", kWait)) << server.standardError();
        std::string err = server.standardError();
        EXPECT_EQ(count(err, "warning"), c.warnings) << err;
        if (c.warnings > 0) {
            EXPECT_NE(err.find("confserver: warning: " + config +
                               " holds a password and other users may open it (mode 0644); "
                               "chmod 600 " +
                               config + "\n"),
                      std::string::npos)
                << err;
        }
        EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
        EXPECT_EQ(modeOf(config), c.mode); // warned about, never changed
    }
}

TEST(ConfigPath, FailedWritesAreToldOnceAndTheServerStillStarts) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    const std::string content = std::string(ACCOUNT) + SERVERS; // no ver: the list update writes
    testutil::writeFile(config, content);
    ASSERT_EQ(::link(config.c_str(), dir.file("backup.ini").c_str()), 0);
    ServerProcess server(minimised(config, "127.102.0.12"));
    ASSERT_TRUE(server.waitForStatus("cVARDE", kWait)) << server.standardError();
    std::string err = server.standardError();
    const std::string reason = ": it has 2 hard links, and replacing it would make them two files";
    EXPECT_EQ(count(err, "confserver: cannot write " + config + reason + "\n"), 1) << err;
    EXPECT_EQ(count(err, "cannot write"), 2) << err; // that line and the box
    EXPECT_NE(err.find("CONF SERVER 3.68 MESSAGE: Server not updated: cannot write " + config +
                       reason + "\n"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("Server Updated"), std::string::npos) << err;
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    EXPECT_EQ(testutil::readFile(config), content);
    EXPECT_EQ(testutil::directoryEntries(dir.path()),
              (std::vector<std::string>{"backup.ini", "omvarc.ini"}));
}

TEST(ConfigPath, ASymbolicLinkIsFollowedItsTargetUpdatedTheLinkKept) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0700), 0);
    ASSERT_EQ(::mkdir(dir.file("etc").c_str(), 0700), 0);
    std::string target = dir.file("real/server.ini");
    std::string link = dir.file("etc/omvarc.ini");
    testutil::writeFile(target, std::string("; mine\n") + ACCOUNT + SERVERS);
    ASSERT_EQ(::chmod(target.c_str(), 0400), 0); // the owner's choice: read-only
    ASSERT_EQ(::symlink("../real/server.ini", link.c_str()), 0);
    ServerProcess server(minimised(link, "127.102.0.13"));
    ASSERT_TRUE(server.waitForStatus("cVARDE", kWait)) << server.standardError();
    EXPECT_NE(server.standardError().find("Server Updated"), std::string::npos);
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    std::string text = testutil::readFile(target);
    EXPECT_EQ(text.rfind(std::string("; mine\n") + ACCOUNT + "[server]\n1=", 0), 0u) << text;
    EXPECT_NE(text.find("\nver=618\n"), std::string::npos) << text;
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(modeOf(target), 0400u);
    EXPECT_EQ(testutil::directoryEntries(dir.file("real")), std::vector<std::string>{"server.ini"});
    EXPECT_EQ(testutil::directoryEntries(dir.file("etc")), std::vector<std::string>{"omvarc.ini"});
}

TEST(ConfigPath, AByteOrderMarkIsReadPastAndKept) {
    TempDir dir;
    std::string config = dir.file("omvarc.ini");
    const std::string mark = "\xEF\xBB\xBF";
    // The account in the first section, right after the mark; no ver, so the file is written.
    testutil::writeFile(config, mark + ACCOUNT + SERVERS);
    ServerProcess server(minimised(config, "127.102.0.14"));
    ASSERT_TRUE(server.waitForStatus("cVARDE", kWait)) << server.standardError();
    EXPECT_EQ(server.stop(SIGTERM, 15000), 0);
    std::string text = testutil::readFile(config);
    EXPECT_EQ(text.rfind(mark + ACCOUNT + "[server]\n", 0), 0u) << text;
    EXPECT_NE(text.find("\nver=618\n"), std::string::npos) << text;
}

TEST(ConfigPath, ASignalEndsAStartUpThatIsHeldUp) {
    for (const char* mode : {"at-once", "pump", "pending"}) {
        for (int sig : {SIGTERM, SIGINT}) {
            ServerProcess held({mode}, {}, HELPERS + "/startup_hold");
            ASSERT_TRUE(held.waitForRawLine("ready", kWait)) << mode << held.standardError();
            EXPECT_EQ(held.stop(sig, kWait), 0) << mode << " " << sig;
            EXPECT_EQ(held.standardError(), "startup_hold: ended by a signal during start-up\n")
                << mode;
        }
    }
}

// The terminal window: a signal at the account dialog, or at the box that follows it,
// ends the server at once with the terminal given back; a first run with no configuration
// directory creates it.
class ConfigPathTerminal : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(testutil::tmuxAvailable()) << "tmux is needed (scripts/install-deps)";
    }
    static std::vector<std::string> environment(const std::string& home) {
        return {"-u",
                "COLORTERM",
                "-u",
                "XDG_CONFIG_HOME",
                "TERM=xterm-256color",
                "HOME=" + home,
                "CONFSERVER_DESKTOP=e2e_config_path_test"};
    }
    // Types the account into the open dialog and presses O K.
    static void enterAccount(TmuxSession& tmux) {
        tmux.type("*new*");
        tmux.keys({"Tab"});
        tmux.type("new conference");
        tmux.keys({"Tab"});
        tmux.type("pwd");
        ASSERT_TRUE(tmux.waitForText("NEW CONFERENCE", kWait)) << tmux.screen();
        tmux.keys({"Enter"});
    }
};

TEST_F(ConfigPathTerminal, ASignalAtTheAccountDialogOrItsBoxEndsTheServer) {
    for (bool atBox : {false, true}) {
        TempDir dir;
        std::string config = dir.file("omvarc.ini");
        std::string errors = dir.file("stderr");
        TmuxSession tmux(environment(dir.path()),
                         {CONFSERVER_BINARY, "--config", config, "--bind", "127.102.1.1"}, 100, 30,
                         errors);
        ASSERT_TRUE(tmux.waitForText("A B O R T", kWait)) << tmux.screen();
        if (atBox) {
            enterAccount(tmux);
            ASSERT_TRUE(tmux.waitForText("Server Updated", kWait)) << tmux.screen();
        }
        int pid = tmux.programPid(kWait);
        ASSERT_GT(pid, 0);
        ::kill(pid, SIGTERM);
        EXPECT_EQ(tmux.waitExit(kWait), 0) << atBox;
        EXPECT_TRUE(tmux.waitForNoText(atBox ? "Server Updated" : "A B O R T", kWait))
            << tmux.screen();
        std::string err = testutil::readFile(errors);
        EXPECT_NE(err.find("confserver: ended by a signal during start-up\n"), std::string::npos)
            << err;
        if (atBox) {
            // The account was stored before the box said so.
            EXPECT_NE(testutil::readFile(config).find("valid=PWD"), std::string::npos);
        } else {
            EXPECT_FALSE(testutil::fileExists(config));
        }
    }
}

TEST_F(ConfigPathTerminal, AFirstRunCreatesTheMissingConfigurationDirectory) {
    TempDir dir;
    std::string errors = dir.file("stderr");
    // HOME has no .config: the default file lies in a directory that does not exist yet.
    ASSERT_EQ(::mkdir(dir.file("home").c_str(), 0755), 0);
    TmuxSession tmux(environment(dir.file("home")), {CONFSERVER_BINARY, "--bind", "127.102.1.2"},
                     100, 30, errors);
    ASSERT_TRUE(tmux.waitForText("A B O R T", kWait)) << tmux.screen();
    enterAccount(tmux);
    ASSERT_TRUE(tmux.waitForText("Server Updated", kWait)) << tmux.screen();
    tmux.keys({"Enter"});
    ASSERT_TRUE(tmux.waitForText("SERV 3.68", kWait)) << tmux.screen();
    std::string config = dir.file("home/.config/omvarc.ini");
    EXPECT_EQ(modeOf(dir.file("home/.config")), 0700u);
    EXPECT_EQ(modeOf(config), 0600u);
    std::string text = testutil::readFile(config);
    EXPECT_NE(text.find("[callsign]\nuser=*NEW*\ndesc=NEW CONFERENCE\nvalid=PWD\n"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("ver=618"), std::string::npos) << text;
    // Point the sign-off where nothing listens before the server closes.
    size_t first = text.find("\n1=");
    ASSERT_NE(first, std::string::npos) << text;
    text.replace(first, text.find('\n', first + 1) - first, "\n1=127.102.9.1");
    testutil::writeFile(config, text);
    ::kill(tmux.programPid(kWait), SIGTERM);
    EXPECT_EQ(tmux.waitExit(kWait), 0);
    EXPECT_EQ(testutil::readFile(errors).find("cannot write"), std::string::npos);
}
