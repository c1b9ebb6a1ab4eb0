// The configuration file as the operator meets it: the check of its path at start (what
// cannot be read stops the start with nothing written, a password open to others is
// warned about), and writes that fail, told once on standard error and by the account
// dialog and the directory list update instead of a pretended success.
#include "app/startup.h"
#include "base/app_state.h"
#include "config/account.h"
#include "config/config.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "resources/resources.h"
#include "support/server_harness.h"
#include "support/testutil.h"

#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

std::vector<std::string> boxes;

int recordBox(HWND, const char* text, const char* caption, UINT) {
    boxes.push_back(std::string(caption) + "|" + text);
    return IDOK;
}

// Standard error sent to a file for as long as the object lives.
class CapturedStderr {
  public:
    explicit CapturedStderr(const std::string& file) : file_(file) {
        std::fflush(stderr);
        saved_ = ::dup(STDERR_FILENO);
        int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ::dup2(fd, STDERR_FILENO);
        ::close(fd);
    }
    ~CapturedStderr() { restore(); }
    // Everything written so far; standard error is given back.
    std::string text() {
        restore();
        return testutil::readFile(file_);
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            ::dup2(saved_, STDERR_FILENO);
            ::close(saved_);
            saved_ = -1;
        }
    }
    std::string file_;
    int saved_ = -1;
};

int lines(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class ConfigFile : public ::testing::Test {
  protected:
    void SetUp() override {
        testutil::resetPlatform();
        testutil::resetServerState();
        boxes.clear();
        configWriteFailureTold = false;
        path = dir.file("omvarc.ini");
        platformSetProfileFile("omvarc.ini", path.c_str());
        platformSetMessageBoxHook(recordBox);
        appInstance = programInstance();
    }
    void TearDown() override {
        testutil::resetPlatform();
        testutil::resetServerState();
        configWriteFailureTold = false;
    }
    // A second name for the configuration file, so that every write of it is refused.
    void hardLink() { ASSERT_EQ(::link(path.c_str(), dir.file("second.ini").c_str()), 0); }
    HWND accountDialog(const char* name, const char* desc, const char* password) {
        HWND dialog = testutil::openAccountDialog(name, desc, password);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    testutil::TempDir dir;
    std::string path;
};

const char* const HARD_LINKS = ": it has 2 hard links, and replacing it would make them two files";

} // namespace

TEST_F(ConfigFile, AFailedWriteIsToldOnceAndTheDialogStaysOpen) {
    const std::string content = "[callsign]\ndesc=none\n";
    testutil::writeFile(path, content);
    hardLink();
    CapturedStderr err(dir.file("stderr"));
    HWND dialog = accountDialog("*KENT*", "A TEST SERVER", "SECRET");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR|THE ACCOUNT WAS NOT STORED: cannot write " + path + HARD_LINKS);
    EXPECT_FALSE(platformDialogEnded(dialog, nullptr));
    // A second press and the directory list update fail the same way: still one line.
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    directoryListUpdate();
    ASSERT_EQ(boxes.size(), 3u);
    EXPECT_EQ(boxes[2],
              "CONF SERVER 3.68 MESSAGE|Server not updated: cannot write " + path + HARD_LINKS);
    std::string told = err.text();
    EXPECT_EQ(told, "confserver: cannot write " + path + HARD_LINKS + "\n");
    EXPECT_EQ(testutil::readFile(path), content);

    // Once the file can be written, O K stores the account and ends the dialog.
    ASSERT_EQ(::unlink(dir.file("second.ini").c_str()), 0);
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    INT_PTR result = 0;
    EXPECT_TRUE(platformDialogEnded(dialog, &result));
    EXPECT_EQ(result, 1);
    EXPECT_EQ(boxes.size(), 3u);
    EXPECT_NE(testutil::readFile(path).find("valid=SECRET"), std::string::npos);
}

TEST_F(ConfigFile, ListUpdateSaysServerUpdatedOnlyWhenStored) {
    testutil::writeFile(path, "[server]\nmaxusers=3\n");
    hardLink();
    CapturedStderr err(dir.file("stderr"));
    directoryListUpdate();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0],
              "CONF SERVER 3.68 MESSAGE|Server not updated: cannot write " + path + HARD_LINKS);
    EXPECT_EQ(testutil::readFile(path), "[server]\nmaxusers=3\n");
    EXPECT_EQ(lines(err.text()), 1);

    ASSERT_EQ(::unlink(dir.file("second.ini").c_str()), 0);
    directoryListUpdate();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "CONF SERVER 3.68 MESSAGE|Server Updated");
    EXPECT_NE(testutil::readFile(path).find("ver=618"), std::string::npos);
}

TEST_F(ConfigFile, MissingDirectoryIsCreatedAndTheAccountStored) {
    path = dir.file("config/confserver/omvarc.ini");
    platformSetProfileFile("omvarc.ini", path.c_str());
    HWND dialog = accountDialog("*NEW*", "NEW SERVER", "PWD");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(boxes.empty()) << boxes[0];
    EXPECT_TRUE(platformDialogEnded(dialog, nullptr));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("config").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(dir.file("config/confserver").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    std::string text = testutil::readFile(path);
    EXPECT_NE(text.find("[callsign]\nuser=*NEW*\ndesc=NEW SERVER\nvalid=PWD\n"), std::string::npos)
        << text;
}

TEST_F(ConfigFile, WhatCannotBeReadStopsTheStartWithNothingWritten) {
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(initApplication(programInstance()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR|The configuration file " + path +
                            " cannot be read: a FIFO, not a regular file. Nothing was changed.");
    ASSERT_EQ(::unlink(path.c_str()), 0);

    boxes.clear();
    ASSERT_EQ(::mkdir(path.c_str(), 0700), 0);
    EXPECT_FALSE(initApplication(programInstance()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR|The configuration file " + path +
                            " cannot be read: a directory, not a regular file. Nothing was "
                            "changed.");
    // Nothing was made in the directory (rmdir fails on a directory that is not empty), and
    // start-up went no further: no "Server Updated" box followed.
    EXPECT_EQ(::rmdir(path.c_str()), 0);
}

TEST_F(ConfigFile, PasswordOpenToOthersIsWarnedAboutOnce) {
    struct Row {
        const char* content;
        mode_t mode;
        bool warned;
    } rows[] = {
        {"[callsign]\ndesc=SET\nvalid=PW\n[server]\nver=618\n", 0644, true},
        {"[callsign]\ndesc=SET\nvalid=PW\n[server]\nver=618\n", 0620, true},
        {"[callsign]\ndesc=SET\nvalid=PW\n[server]\nver=618\n", 0600, false},
        {"[callsign]\ndesc=SET\n[server]\nver=618\n", 0644, false},
    };
    for (const Row& row : rows) {
        testutil::writeFile(path, row.content);
        ASSERT_EQ(::chmod(path.c_str(), row.mode), 0);
        CapturedStderr err(dir.file("stderr"));
        ASSERT_TRUE(checkConfigurationFile());
        std::string told = err.text();
        if (row.warned) {
            char mode[8];
            std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(row.mode));
            EXPECT_EQ(told, "confserver: warning: " + path +
                                " holds a password and other users may open it (mode " + mode +
                                "); chmod 600 " + path + "\n");
        } else {
            EXPECT_EQ(told, "") << row.content;
        }
        EXPECT_TRUE(boxes.empty());
    }
}

TEST_F(ConfigFile, FirstRunMessageSaysWhetherTheFileExists) {
    platformSetMessageBoxHook(nullptr);
    EXPECT_EXIT(firstRunCheck(), ::testing::ExitedWithCode(2),
                "The configuration file .*omvarc\\.ini does not exist\\. Create it with "
                "\\[callsign\\] user.*desc.*valid");
    testutil::writeFile(path, "[server]\nver=618\n");
    EXPECT_EXIT(firstRunCheck(), ::testing::ExitedWithCode(2),
                "The account of this server is not set up\\. Set \\[callsign\\] user.*in "
                ".*omvarc\\.ini");
}
