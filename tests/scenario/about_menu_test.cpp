// The main window's menu and the about dialog, in one process with the real main window:
// command 122 opens a new modeless about dialog each time, each one closes on its own,
// its command 2 walks the one directory server index 1-2-3-4-1 that the sign-off uses, it
// paints with its own colours and brushes, and EXIT closes the server with its dialogs.
// Server 127.70.5.1; the directory servers are TCP sinks on 127.70.5.2 to 127.70.5.5.
#include "base/app_state.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "resources/resources.h"
#include "support/server_harness.h"
#include "support/tcp_sink.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using testutil::ServerHarness;

namespace {

const char* const ABOUT_CAPTION = "CONFERENCE SERVER FOR OMVAR ";

std::string config() {
    return "[callsign]\nuser=*KENT*\ndesc=TEST\nvalid=PW\n[server]\nver=618\n"
           "1=127.70.5.2\n2=127.70.5.3\n3=127.70.5.4\n4=127.70.5.5\n";
}

// Every open about dialog, newest first: top-level windows are kept newest first, so the
// walk starts at the first dialog of that caption.
std::vector<HWND> aboutDialogs() {
    std::vector<HWND> found;
    for (HWND h = FindWindowA("#32770", ABOUT_CAPTION); h != nullptr;
         h = GetWindow(h, GW_HWNDNEXT)) {
        char title[64] = "";
        GetWindowTextA(h, title, sizeof title);
        if (std::string(title) == ABOUT_CAPTION) {
            found.push_back(h);
        }
    }
    return found;
}

void menuCommand(ServerHarness& server, int command) {
    PostMessageA(mainWindow, WM_COMMAND, static_cast<WPARAM>(command), 0);
    server.pump();
}

} // namespace

TEST(AboutMenu, EachCommandOpensAnotherDialogAndEachClosesOnItsOwn) {
    ServerHarness server("127.70.5.1", config());
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(aboutDialogs().empty());
    menuCommand(server, CMD_ABOUT);
    menuCommand(server, CMD_ABOUT);
    std::vector<HWND> dialogs = aboutDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    for (HWND d : dialogs) {
        EXPECT_EQ(GetWindow(d, GW_OWNER), mainWindow);
        char text[32] = "";
        GetDlgItemTextA(d, IDOK, text, sizeof text);
        EXPECT_STREQ(text, "CLOSE");
        EXPECT_NE(GetDlgItem(d, 350), nullptr);
    }
    // CLOSE on the first one: it goes, the second stays and still works.
    SendMessageA(dialogs[0], WM_COMMAND, IDOK, 0);
    server.pump();
    EXPECT_FALSE(IsWindow(dialogs[0]));
    ASSERT_TRUE(IsWindow(dialogs[1]));
    EXPECT_EQ(aboutDialogs(), std::vector<HWND>{dialogs[1]});
    SendMessageA(dialogs[1], WM_COMMAND, IDCANCEL, 0);
    EXPECT_EQ(directoryServerIndex, 2);
    // The close box of its caption closes it too.
    SendMessageA(dialogs[1], WM_CLOSE, 0, 0);
    server.pump();
    EXPECT_TRUE(aboutDialogs().empty());
    // Ticks and the control port go on while dialogs come and go.
    EXPECT_TRUE(server.running());
}

TEST(AboutMenu, CommandTwoWalksTheOneDirectoryIndexThatTheSignOffUses) {
    ServerHarness server("127.70.5.1", config());
    ASSERT_TRUE(server.start());
    menuCommand(server, CMD_ABOUT);
    menuCommand(server, CMD_ABOUT);
    std::vector<HWND> dialogs = aboutDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    EXPECT_EQ(directoryServerIndex, 1);
    // Both dialogs act on the one index; four steps come back to where they began.
    const int expected[] = {2, 3, 4, 1, 2, 3};
    for (int i = 0; i < 6; ++i) {
        SendMessageA(dialogs[static_cast<size_t>(i % 2)], WM_COMMAND, IDCANCEL, 0);
        EXPECT_EQ(directoryServerIndex, expected[i]) << "step " << i + 1;
    }
    // A command the menu does not have changes nothing.
    menuCommand(server, 4321);
    EXPECT_EQ(directoryServerIndex, 3);
    EXPECT_EQ(aboutDialogs().size(), 2u);
    EXPECT_TRUE(server.running());
    // Any other command of the dialog changes nothing and keeps the dialog open.
    SendMessageA(dialogs[0], WM_COMMAND, 350, 0);
    server.pump();
    EXPECT_EQ(directoryServerIndex, 3);
    EXPECT_TRUE(IsWindow(dialogs[0]));

    // EXIT: the sign-off goes to directory server 3 (127.70.5.4), then the server closes
    // and its dialogs go with it.
    testutil::TcpSink chosen("127.70.5.4", 5200);
    testutil::TcpSink other("127.70.5.2", 5200);
    ASSERT_TRUE(chosen.ok());
    ASSERT_TRUE(other.ok());
    menuCommand(server, CMD_EXIT);
    EXPECT_FALSE(IsWindow(mainWindow));
    EXPECT_FALSE(IsWindow(dialogs[0]));
    EXPECT_FALSE(IsWindow(dialogs[1]));
    EXPECT_TRUE(platformQuitPosted());
    const std::string signOff = chosen.waitForClose(5000);
    EXPECT_EQ(signOff.rfind("l*KENT*\xAC\xACPW\r", 0), 0u) << signOff;
    EXPECT_TRUE(chosen.accepted());
    EXPECT_FALSE(other.accepted());
}

TEST(AboutMenu, ColourRequestsGetTheDialogsOwnBrushesWhichGoWithIt) {
    ServerHarness server("127.70.5.1", config());
    ASSERT_TRUE(server.start());
    const int brushesBefore = platformLiveBrushes();
    menuCommand(server, CMD_ABOUT);
    menuCommand(server, CMD_ABOUT);
    std::vector<HWND> dialogs = aboutDialogs();
    ASSERT_EQ(dialogs.size(), 2u);
    HDC hdc = GetDC(dialogs[0]);

    // Edit fields and list boxes: white on blue (0, 0, 200), one brush for both.
    auto field = reinterpret_cast<HBRUSH>(
        SendMessageA(dialogs[0], WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(hdc), 0));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(GetTextColor(hdc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkColor(hdc), RGB(0, 0, 200));
    EXPECT_EQ(platformBrushColour(field), RGB(0, 0, 200));
    auto list = reinterpret_cast<HBRUSH>(
        SendMessageA(dialogs[0], WM_CTLCOLORLISTBOX, reinterpret_cast<WPARAM>(hdc), 0));
    EXPECT_EQ(list, field);

    // Buttons: (195, 255, 140) on (80, 70, 180), a brush of their own.
    auto button = reinterpret_cast<HBRUSH>(
        SendMessageA(dialogs[0], WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(hdc), 0));
    ASSERT_NE(button, nullptr);
    EXPECT_NE(button, field);
    EXPECT_EQ(GetTextColor(hdc), RGB(195, 255, 140));
    EXPECT_EQ(GetBkColor(hdc), RGB(80, 70, 180));
    EXPECT_EQ(platformBrushColour(button), RGB(80, 70, 180));
    EXPECT_EQ(SendMessageA(dialogs[0], WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(hdc), 0),
              reinterpret_cast<LRESULT>(button));

    // Any other control: the platform's default colours, no brush of the dialog's.
    EXPECT_EQ(SendMessageA(dialogs[0], WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(hdc), 0), 0);

    // The other dialog makes brushes of its own.
    auto otherField = reinterpret_cast<HBRUSH>(
        SendMessageA(dialogs[1], WM_CTLCOLOREDIT, reinterpret_cast<WPARAM>(hdc), 0));
    EXPECT_NE(otherField, field);
    ReleaseDC(dialogs[0], hdc);
    EXPECT_EQ(platformLiveBrushes(), brushesBefore + 3);

    // Each dialog deletes its own brushes when it goes, the rest when the server closes.
    SendMessageA(dialogs[0], WM_COMMAND, IDOK, 0);
    server.pump();
    EXPECT_EQ(platformLiveBrushes(), brushesBefore + 1);
    server.close();
    EXPECT_EQ(platformLiveBrushes(), brushesBefore);
}
