// Dialogs from templates: controls, WM_INITDIALOG, default dialog processing, EndDialog,
// modal dialogs with and without a front end that shows them, colour requests and
// brushes, message boxes, and the resources of an instance.
#include "platform/window/dialog.h"
#include "platform/window/frontend.h"
#include "support/testutil.h"
#include "support/window_recorder.h"

using recorder::topLevel;
using Strings = std::vector<std::string>;

namespace {

const DialogControl kAboutControls[] = {
    {350, ControlKind::Static, "built 5 June 2002", 0, 3, 4, 170, 31},
    {1, ControlKind::Button, "CLOSE", BS_DEFPUSHBUTTON | WS_TABSTOP, 3, 40, 45, 11},
};
const DialogTemplate kAbout = {107,
                               "ABOUT ",
                               WS_POPUP | WS_CAPTION | WS_VISIBLE,
                               83,
                               23,
                               179,
                               57,
                               "Arial Black",
                               10,
                               kAboutControls,
                               2};
const DialogControl kAccountControls[] = {
    {10, ControlKind::Edit, "", ES_UPPERCASE | WS_TABSTOP, 1, 1, 50, 10},
    {IDCANCEL, ControlKind::Button, "ABORT", WS_TABSTOP, 1, 20, 50, 10},
};
const DialogTemplate kAccount = {3200,          "ACCOUNT", WS_POPUP | WS_CAPTION, 10, 18, 211, 126,
                                 "Arial Black", 10,        kAccountControls,      2};
const DialogTemplate* const kDialogs[] = {&kAbout, &kAccount};
const MenuItemTemplate kMenuItems[] = {{122, "SERV", false}, {2003, "EXIT", true}};
const MenuTemplate kMenu = {2000, kMenuItems, 2};
const MenuTemplate* const kMenus[] = {&kMenu};
HINSTANCE__ gInstance = {kMenus, 1, kDialogs, 2};

// What the dialog procedure saw, and how it answers.
struct DialogLog {
    Strings seen;
    LPARAM initParam = 0;
    WPARAM initFocus = 0;
    HBRUSH brush = nullptr;
    bool handleClose = false;
    int endOnCommand = 0; // EndDialog with this result on WM_COMMAND IDOK
};
DialogLog gLog;

INT_PTR dialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        gLog.seen.push_back("INITDIALOG");
        gLog.initParam = lParam;
        gLog.initFocus = wParam;
        return TRUE;
    case WM_COMMAND:
        gLog.seen.push_back("COMMAND " + std::to_string(LOWORD(wParam)));
        if (LOWORD(wParam) == IDOK && gLog.endOnCommand != 0) {
            EndDialog(dialog, gLog.endOnCommand);
        }
        return TRUE;
    case WM_CLOSE:
        gLog.seen.push_back("CLOSE");
        if (gLog.handleClose) {
            DestroyWindow(dialog);
            return TRUE;
        }
        return FALSE;
    case WM_CTLCOLORBTN:
        SetTextColor(reinterpret_cast<HDC>(wParam), RGB(195, 255, 140));
        SetBkColor(reinterpret_cast<HDC>(wParam), RGB(80, 70, 180));
        if (gLog.brush == nullptr) {
            gLog.brush = CreateSolidBrush(RGB(80, 70, 180));
        }
        return reinterpret_cast<INT_PTR>(gLog.brush);
    case WM_DESTROY:
        gLog.seen.push_back("DESTROY");
        if (gLog.brush != nullptr) {
            DeleteObject(gLog.brush);
            gLog.brush = nullptr;
        }
        return TRUE;
    default:
        return FALSE;
    }
}

class Dialogs : public recorder::WindowTest {
  protected:
    void SetUp() override {
        recorder::WindowTest::SetUp();
        gLog = DialogLog{};
    }
};

// A front end that can show dialogs; it presses the default button of the dialog it is
// told about by posting the command, as a person would.
class PressingFrontEnd : public platform::FrontEnd {
  public:
    bool canShowDialogs() const override { return true; }
    bool windowsAreIconic() const override { return false; }
    void titleChanged(HWND, const char*) override {}
    void windowShown(HWND hwnd) override { shown.push_back(hwnd); }
    void windowDestroyed(HWND) override {}
    void dialogCreated(HWND dialog) override {
        created.push_back(dialog);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    }
    int messageBox(HWND, const char*, const char*, UINT) override { return IDOK; }
    std::vector<HWND> created;
    std::vector<HWND> shown;
};

TEST_F(Dialogs, ResourcesAreFoundByNumber) {
    EXPECT_EQ(platformFindDialog(&gInstance, MAKEINTRESOURCEA(107)), &kAbout);
    EXPECT_EQ(platformFindDialog(&gInstance, MAKEINTRESOURCEA(3200)), &kAccount);
    EXPECT_EQ(platformFindDialog(&gInstance, MAKEINTRESOURCEA(108)), nullptr);
    EXPECT_EQ(platformFindDialog(nullptr, MAKEINTRESOURCEA(107)), nullptr);
    EXPECT_EQ(platformFindMenu(&gInstance, MAKEINTRESOURCEA(2000)), &kMenu);

    WNDCLASSA wc{};
    wc.lpfnWndProc = recorder::recordingProc;
    wc.hInstance = &gInstance;
    wc.lpszMenuName = MAKEINTRESOURCEA(2000);
    wc.lpszClassName = "Omvar_CS";
    ASSERT_NE(RegisterClassA(&wc), 0);
    HWND main = CreateWindowExA(0, "Omvar_CS", "cVARDE", WS_POPUP, 0, 0, 275, 57, nullptr, nullptr,
                                &gInstance, nullptr);
    EXPECT_EQ(platformWindowMenu(main), &kMenu);
    EXPECT_EQ(platformWindowMenu(topLevel("plain")), nullptr);
}

TEST_F(Dialogs, ModelessDialogHasItsControlsInTemplateOrder) {
    HWND main = topLevel("main");
    HWND dialog = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(107), main, dialogProc, 77);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(GetWindow(dialog, GW_OWNER), main);
    EXPECT_EQ(recorder::titleOf(dialog), "ABOUT ");
    HWND text = GetWindow(dialog, GW_CHILD);
    HWND button = GetWindow(text, GW_HWNDNEXT);
    EXPECT_EQ(GetDlgItem(dialog, 350), text);
    EXPECT_EQ(GetDlgItem(dialog, 1), button);
    EXPECT_EQ(GetDlgItem(dialog, 2), nullptr);
    EXPECT_EQ(recorder::titleOf(button), "CLOSE");
    EXPECT_EQ(gLog.seen, Strings{"INITDIALOG"});
    EXPECT_EQ(gLog.initParam, 77);
    EXPECT_EQ(gLog.initFocus, reinterpret_cast<WPARAM>(button)); // first tab stop
    EXPECT_EQ(SetFocus(nullptr), button); // it took the focus (the procedure said TRUE)

    char buf[8];
    EXPECT_EQ(GetDlgItemTextA(dialog, 1, buf, sizeof(buf)), 5u);
    EXPECT_STREQ(buf, "CLOSE");
    EXPECT_TRUE(SetDlgItemTextA(dialog, 350, "changed"));
    EXPECT_EQ(GetDlgItemTextA(dialog, 350, buf, 4), 3u);
    EXPECT_STREQ(buf, "cha");
    EXPECT_FALSE(SetDlgItemTextA(dialog, 999, "x"));
    EXPECT_EQ(GetDlgItemTextA(dialog, 999, buf, sizeof(buf)), 0u);
    EXPECT_STREQ(buf, "");

    EXPECT_EQ(CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(999), main, dialogProc, 0), nullptr);
}

TEST_F(Dialogs, UnhandledCloseIssuesCancelAndHandledCloseDoesNot) {
    HWND dialog = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(3200), nullptr, dialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    gLog.seen.clear();
    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(gLog.seen, (Strings{"CLOSE", "COMMAND 2"}));
    EXPECT_TRUE(IsWindow(dialog)); // default dialog processing does not destroy it

    gLog.handleClose = true;
    gLog.seen.clear();
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    platformDispatchPending(10);
    EXPECT_EQ(gLog.seen, (Strings{"CLOSE", "DESTROY"}));
    EXPECT_FALSE(IsWindow(dialog));
}

TEST_F(Dialogs, EndDialogRecordsTheResultAndHides) {
    HWND dialog = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(107), nullptr, dialogProc, 0);
    INT_PTR result = 0;
    EXPECT_FALSE(platformDialogEnded(dialog, &result));
    EXPECT_TRUE(ShowWindow(dialog, SW_SHOW)); // the template's WS_VISIBLE showed it
    EXPECT_TRUE(EndDialog(dialog, 5));
    EXPECT_TRUE(platformDialogEnded(dialog, &result));
    EXPECT_EQ(result, 5);
    EXPECT_FALSE(ShowWindow(dialog, SW_HIDE)); // already hidden
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(EndDialog(topLevel("not a dialog"), 1));
}

TEST_F(Dialogs, ModalDialogCannotBeShownWhenMinimised) {
    EXPECT_EQ(DialogBoxParamA(&gInstance, MAKEINTRESOURCEA(3200), nullptr, dialogProc, 0), -1);
    EXPECT_TRUE(gLog.seen.empty()); // no dialog was made
}

TEST_F(Dialogs, ModalDialogRunsUntilEndDialogAndReturnsTheResult) {
    PressingFrontEnd frontEnd;
    recorder::FrontEndGuard guard(&frontEnd);
    HWND main = topLevel("main");
    PostMessageA(main, WM_USER, 0, 0); // handled by the modal loop meanwhile
    gLog.endOnCommand = 42;
    recorder::events().clear();
    EXPECT_EQ(DialogBoxParamA(&gInstance, MAKEINTRESOURCEA(3200), main, dialogProc, 9), 42);
    ASSERT_EQ(frontEnd.created.size(), 1u);
    EXPECT_FALSE(IsWindow(frontEnd.created[0])); // destroyed before returning
    EXPECT_EQ(frontEnd.shown, frontEnd.created); // shown although the template is not visible
    EXPECT_EQ(gLog.seen, (Strings{"INITDIALOG", "COMMAND 1", "DESTROY"}));
    EXPECT_EQ(recorder::events(), Strings{"main:1024"});
    EXPECT_EQ(DialogBoxParamA(&gInstance, MAKEINTRESOURCEA(1), main, dialogProc, 9), -1);
}

TEST_F(Dialogs, ColourRequestsReturnTheProceduresBrush) {
    HWND dialog = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(107), nullptr, dialogProc, 0);
    HWND button = GetDlgItem(dialog, 1);
    HDC dc = GetDC(button);
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    auto brush = reinterpret_cast<HBRUSH>(SendMessageA(
        dialog, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(button)));
    ASSERT_NE(brush, nullptr);
    EXPECT_EQ(platformBrushColour(brush), RGB(80, 70, 180));
    EXPECT_EQ(GetTextColor(dc), RGB(195, 255, 140));
    EXPECT_EQ(GetBkColor(dc), RGB(80, 70, 180));
    // Same brush on the next request; a request the procedure leaves gives no brush.
    EXPECT_EQ(SendMessageA(dialog, WM_CTLCOLORBTN, reinterpret_cast<WPARAM>(dc), 0),
              reinterpret_cast<LRESULT>(brush));
    EXPECT_EQ(SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), 0), 0);
    EXPECT_EQ(ReleaseDC(button, dc), 1);
    EXPECT_EQ(ReleaseDC(button, dc), 0);
    EXPECT_EQ(platformLiveBrushes(), 1);
    DestroyWindow(dialog); // the procedure deletes its brush in WM_DESTROY
    EXPECT_EQ(platformLiveBrushes(), 0);
    EXPECT_EQ(platformBrushColour(brush), 0u);
}

TEST_F(Dialogs, OwnedDialogsGoWithTheirOwner) {
    HWND main = topLevel("main");
    HWND first = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(107), main, dialogProc, 0);
    HWND second = CreateDialogParamA(&gInstance, MAKEINTRESOURCEA(107), main, dialogProc, 0);
    ASSERT_NE(first, second);
    DestroyWindow(first);
    EXPECT_TRUE(IsWindow(second)); // closing one leaves the other
    gLog.seen.clear();
    DestroyWindow(main);
    EXPECT_FALSE(IsWindow(second));
    EXPECT_EQ(gLog.seen, Strings{"DESTROY"});
}

TEST_F(Dialogs, BrushesAndStockObjects) {
    HBRUSH a = CreateSolidBrush(RGB(0, 0, 200));
    HBRUSH b = CreateSolidBrush(RGB(1, 2, 3));
    EXPECT_EQ(platformLiveBrushes(), 2);
    EXPECT_EQ(platformBrushColour(a), RGB(0, 0, 200));
    EXPECT_TRUE(DeleteObject(a));
    EXPECT_FALSE(DeleteObject(a));
    EXPECT_EQ(platformLiveBrushes(), 1);
    HGDIOBJ gray = GetStockObject(GRAY_BRUSH);
    ASSERT_NE(gray, nullptr);
    EXPECT_EQ(platformBrushColour(static_cast<HBRUSH>(gray)), RGB(128, 128, 128));
    EXPECT_TRUE(DeleteObject(gray));
    EXPECT_EQ(platformLiveBrushes(), 1);
    EXPECT_NE(LoadIconA(&gInstance, MAKEINTRESOURCEA(1000)), nullptr);
    EXPECT_NE(LoadCursorA(nullptr, IDC_ARROW), nullptr);
    (void)b;
    platformReset();
    EXPECT_EQ(platformLiveBrushes(), 0);
}

int boxHook(HWND, const char* text, const char* caption, UINT) {
    gLog.seen.push_back(std::string(caption) + "|" + text);
    return IDCANCEL;
}

TEST_F(Dialogs, MessageBoxesGoToTheHookOrToStandardError) {
    platformSetMessageBoxHook(boxHook);
    EXPECT_EQ(MessageBoxA(nullptr, "Host error", "ERR", MB_OK), IDCANCEL);
    EXPECT_EQ(gLog.seen, Strings{"ERR|Host error"});
    platformSetMessageBoxHook(nullptr);

    // No front end: nobody is there, nothing is written.
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Close?", "Q", MB_YESNO), IDNO);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    testutil::useMinimisedFrontEnd();
    testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "YOU MUST ENTER A PWD ABOVE", "ERROR", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Socket create error - Port A", "", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "Timer create failed.", nullptr, MB_OK), IDOK);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ERROR: YOU MUST ENTER A PWD ABOVE\nSocket create error - Port A\n"
              "Timer create failed.\n");
}

} // namespace
