// First-run set-up: the account dialog's procedure, the first-run check, the directory
// list update and the capacity, against a real configuration file.
#include "app/startup.h"
#include "base/app_state.h"
#include "config/account.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "resources/resources.h"
#include "support/server_harness.h"
#include "support/testutil.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> boxes;

int recordBox(HWND, const char* text, const char* caption, UINT) {
    boxes.push_back(std::string(caption) + "|" + text);
    return IDOK;
}

class Account : public ::testing::Test {
  protected:
    void SetUp() override {
        testutil::resetPlatform();
        testutil::resetServerState();
        boxes.clear();
        path = dir.file("omvarc.ini");
        platformSetProfileFile("omvarc.ini", path.c_str());
        platformSetMessageBoxHook(recordBox);
        appInstance = programInstance();
    }
    void TearDown() override {
        testutil::resetPlatform();
        testutil::resetServerState();
    }
    // Opens the account dialog and fills its three fields.
    HWND dialogWith(const char* name, const char* desc, const char* password) {
        HWND dialog = testutil::openAccountDialog(name, desc, password);
        EXPECT_NE(dialog, nullptr);
        return dialog;
    }
    testutil::TempDir dir;
    std::string path;
};

} // namespace

TEST_F(Account, OkStoresTheFieldsAfterTheDefaultDirectoryEntries) {
    testutil::writeFile(path, "; kept\n[callsign]\ndesc=none\n");
    HWND dialog = dialogWith("*KENT*", "A TEST SERVER", "SECRET");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    INT_PTR result = 0;
    EXPECT_TRUE(platformDialogEnded(dialog, &result));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(boxes.empty());
    std::string expected = std::string("; kept\n[callsign]\ndesc=A TEST SERVER\nuser=*KENT*\n"
                                       "valid=SECRET\n\n[server]\n1=") +
                           defaultDirectoryServers[0] + "\n2=" + defaultDirectoryServers[1] +
                           "\n3=" + defaultDirectoryServers[2] +
                           "\n4=" + defaultDirectoryServers[3] + "\nmaxusers=8\n";
    EXPECT_EQ(testutil::readFile(path), expected);
}

TEST_F(Account, PasswordIsTestedFirstAndShortInputKeepsTheDialogOpen) {
    HWND dialog = dialogWith("", "", "AB");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "ERROR|YOU MUST ENTER A PWD ABOVE");
    EXPECT_FALSE(platformDialogEnded(dialog, nullptr));

    SetDlgItemTextA(dialog, IDC_PASSWORD, "ABC");
    SetDlgItemTextA(dialog, IDC_SERVER_NAME, "*K*");
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1], "ERROR|YOU MUST ENTER VALID DATA ABOVE");
    EXPECT_FALSE(platformDialogEnded(dialog, nullptr));
    // Each press wrote the directory entries and maxusers, and nothing of [callsign].
    std::string text = testutil::readFile(path);
    EXPECT_NE(text.find("maxusers=8"), std::string::npos);
    EXPECT_EQ(text.find("[callsign]"), std::string::npos);
    EXPECT_EQ(text.find("ver="), std::string::npos);
}

TEST_F(Account, NameIsCutAtItsFirstBlankAndFieldsAtThirtyEightCharacters) {
    HWND dialog = dialogWith("AB CD", std::string(45, 'D').c_str(), std::string(40, 'P').c_str());
    SendMessageA(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(platformDialogEnded(dialog, nullptr));
    char value[100];
    GetPrivateProfileStringA("callsign", "user", "?", value, sizeof value, "omvarc.ini");
    EXPECT_STREQ(value, "AB");
    GetPrivateProfileStringA("callsign", "desc", "?", value, sizeof value, "omvarc.ini");
    EXPECT_EQ(std::string(value), std::string(38, 'D'));
    GetPrivateProfileStringA("callsign", "valid", "?", value, sizeof value, "omvarc.ini");
    EXPECT_EQ(std::string(value), std::string(38, 'P'));

    HWND longName = dialogWith(std::string(40, 'N').c_str(), "DESC", "PWD");
    SendMessageA(longName, WM_COMMAND, IDOK, 0);
    GetPrivateProfileStringA("callsign", "user", "?", value, sizeof value, "omvarc.ini");
    EXPECT_EQ(std::string(value), std::string(38, 'N'));
}

TEST_F(Account, AbortEndsTheProcessWithCodeZeroAndWritesNothing) {
    testutil::writeFile(path, "[callsign]\ndesc=none\n");
    EXPECT_EXIT(
        {
            HWND dialog = dialogWith("*KENT*", "DESC", "PWD");
            SendMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(testutil::readFile(path), "[callsign]\ndesc=none\n");
    // The close box of the caption is the same command.
    EXPECT_EXIT(
        {
            HWND dialog = dialogWith("*KENT*", "DESC", "PWD");
            SendMessageA(dialog, WM_CLOSE, 0, 0);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(Account, FirstRunWithoutADialogSaysWhichKeysToSetAndExitsTwo) {
    platformSetMessageBoxHook(nullptr);
    testutil::writeFile(path, "[server]\nver=618\n");
    EXPECT_EXIT(firstRunCheck(), ::testing::ExitedWithCode(2),
                "\\[callsign\\] user.*desc.*valid.*omvarc\\.ini");
    for (const char* desc : {"NONE", "None", "x"}) {
        testutil::writeFile(path, std::string("[callsign]\ndesc=") + desc + "\n");
        firstRunCheck(); // returns: no dialog wanted
    }
}

TEST_F(Account, DirectoryListUpdateOnlyWhenVerIsMissing) {
    const std::string untouched = "[server]\nver=617\nmaxusers=3\n";
    testutil::writeFile(path, untouched);
    directoryListUpdate();
    EXPECT_EQ(testutil::readFile(path), untouched);
    testutil::writeFile(path, "[server]\nver=\n");
    directoryListUpdate();
    EXPECT_EQ(testutil::readFile(path), "[server]\nver=\n");
    EXPECT_TRUE(boxes.empty());

    testutil::writeFile(path, "[server]\nmaxusers=20\n2=mine\n");
    directoryListUpdate();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0], "CONF SERVER 3.68 MESSAGE|Server Updated");
    std::string expected = std::string("[server]\nmaxusers=8\n2=") + defaultDirectoryServers[1] +
                           "\n1=" + defaultDirectoryServers[0] +
                           "\n3=" + defaultDirectoryServers[2] +
                           "\n4=" + defaultDirectoryServers[3] + "\nver=618\n";
    EXPECT_EQ(testutil::readFile(path), expected);
}

TEST_F(Account, CapacityReadAtStartUpBeforeTheListUpdateRewritesIt) {
    struct Row {
        const char* ini;
        int capacity;
    } rows[] = {
        {"[server]\nver=618\nmaxusers=40\n", 25}, {"[server]\nver=618\n", 8},
        {"[server]\nver=618\nmaxusers=25\n", 25}, {"[server]\nver=618\nmaxusers=0\n", 0},
        {"[server]\nver=618\nmaxusers=abc\n", 0}, {"[server]\nmaxusers=100\n", 25},
    };
    for (const Row& row : rows) {
        testutil::resetPlatform();
        platformSetProfileFile("omvarc.ini", path.c_str());
        platformSetMessageBoxHook(recordBox);
        testutil::writeFile(path, std::string("[callsign]\ndesc=SET\n") + row.ini);
        ASSERT_TRUE(initApplication(programInstance()));
        EXPECT_EQ(capacity, row.capacity) << row.ini;
    }
    // The last row had no ver: the file now says maxusers=8, used from the next start on.
    char value[16];
    GetPrivateProfileStringA("server", "maxusers", "?", value, sizeof value, "omvarc.ini");
    EXPECT_STREQ(value, "8");
}
