// Windows: classes, creation messages, relations, extra slots, destruction order and its
// re-entrancy, the MDI client, default processing, showing and the search by class.
#include "platform/window/frontend.h"
#include "platform/window/window_table.h"
#include "support/screen_front_end.h"
#include "support/window_recorder.h"

#include <algorithm>
#include <unistd.h>

using recorder::child;
using recorder::events;
using recorder::reaction;
using recorder::topLevel;
using Strings = std::vector<std::string>;

namespace {

class Windows : public recorder::WindowTest {};

TEST_F(Windows, ClassNamesAreUniqueWithoutRegardToCase) {
    EXPECT_EQ(recorder::registerClass("rec"), 0);
    EXPECT_EQ(recorder::registerClass("MdiClient"), 0); // built in
    EXPECT_EQ(recorder::registerClass(nullptr), 0);
    EXPECT_NE(recorder::registerClass("Other"), 0);
    EXPECT_EQ(CreateWindowExA(0, "NoSuchClass", "x", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                              nullptr, nullptr),
              nullptr);
    HWND w = CreateWindowExA(0, "REC", "upper", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                             nullptr);
    EXPECT_NE(w, nullptr);
}

TEST_F(Windows, CreationSendsNcCreateThenCreateWithTheCreationData) {
    int data = 7;
    const CREATESTRUCTA* seen = nullptr;
    void* param = nullptr;
    int x = 0, cx = 0;
    reaction() = [&](HWND, UINT msg, WPARAM, LPARAM l, LRESULT*) {
        if (msg == WM_CREATE) {
            seen = reinterpret_cast<const CREATESTRUCTA*>(l);
            param = seen->lpCreateParams;
            x = seen->x;
            cx = seen->cx;
        }
        return false;
    };
    HWND w = CreateWindowExA(0, "Rec", "main", WS_POPUP, 11, 22, 275, 57, nullptr, nullptr, nullptr,
                             &data);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(events(), (Strings{"main:NCCREATE", "main:CREATE"}));
    EXPECT_EQ(param, &data);
    EXPECT_EQ(x, 11);
    EXPECT_EQ(cx, 275);
    RECT r{};
    ASSERT_TRUE(GetWindowRect(w, &r));
    EXPECT_EQ(r.left, 11);
    EXPECT_EQ(r.top, 22);
    EXPECT_EQ(r.right, 11 + 275);
    EXPECT_EQ(r.bottom, 22 + 57);
}

TEST_F(Windows, CreateResultMinusOneDestroysTheHalfMadeWindow) {
    HWND made = nullptr;
    reaction() = [&](HWND h, UINT msg, WPARAM, LPARAM, LRESULT* result) {
        if (msg == WM_CREATE) {
            made = h;
            *result = -1;
            return true;
        }
        return false;
    };
    EXPECT_EQ(topLevel("bad"), nullptr);
    EXPECT_EQ(events(), (Strings{"bad:NCCREATE", "bad:CREATE", "bad:DESTROY", "bad:NCDESTROY"}));
    ASSERT_NE(made, nullptr);
    EXPECT_FALSE(IsWindow(made));
    EXPECT_EQ(FindWindowA("Rec", nullptr), nullptr);
}

TEST_F(Windows, NewChildrenGoToTheFrontAndHandlesAreNeverReused) {
    HWND main = topLevel("main");
    HWND a = child("a", main);
    HWND b = child("b", main);
    HWND c = child("c", main);
    EXPECT_EQ(GetWindow(main, GW_CHILD), c);
    EXPECT_EQ(GetWindow(c, GW_HWNDNEXT), b);
    EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), a);
    EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetWindow(a, GW_OWNER), nullptr);

    ASSERT_TRUE(DestroyWindow(b));
    EXPECT_EQ(GetWindow(c, GW_HWNDNEXT), a);
    EXPECT_FALSE(IsWindow(b));
    EXPECT_FALSE(DestroyWindow(b));
    HWND d = child("d", main);
    EXPECT_NE(d, b);
    EXPECT_NE(d, a);
    EXPECT_NE(d, c);
    EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), nullptr); // a stale handle is no window
    EXPECT_EQ(GetWindowLongPtrA(b, GWLP_WNDPROC), 0);
}

// The walk over siblings stays right through every change of the list: children made in
// front and at the back, removed at either end and in the middle, top-level windows too,
// and handles of reused table slots that are new handles all the same.
TEST_F(Windows, SiblingWalkFollowsEveryChangeOfTheList) {
    HWND main = topLevel("main");
    auto walk = [](HWND first) {
        Strings titles;
        for (HWND h = first; h != nullptr && titles.size() < 20; h = GetWindow(h, GW_HWNDNEXT)) {
            titles.push_back(recorder::titleOf(h));
        }
        return titles;
    };
    HWND a = child("a", main);
    HWND b = child("b", main);
    HWND back = platform::createWindow(0, "Rec", "back", WS_CHILD, 0, 0, 0, 0, main, nullptr,
                                       nullptr, nullptr, platform::Placement::Back, nullptr);
    ASSERT_NE(back, nullptr);
    HWND c = child("c", main);
    EXPECT_EQ(walk(GetWindow(main, GW_CHILD)), (Strings{"c", "b", "a", "back"}));
    ASSERT_TRUE(DestroyWindow(c)); // the front
    EXPECT_EQ(walk(GetWindow(main, GW_CHILD)), (Strings{"b", "a", "back"}));
    ASSERT_TRUE(DestroyWindow(a)); // the middle
    EXPECT_EQ(walk(GetWindow(main, GW_CHILD)), (Strings{"b", "back"}));
    ASSERT_TRUE(DestroyWindow(back)); // the back
    EXPECT_EQ(walk(GetWindow(main, GW_CHILD)), (Strings{"b"}));
    EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), nullptr);

    // Many windows made and destroyed: slots are reused, handles never.
    std::vector<HWND> seen{main, a, b, back, c};
    for (int i = 0; i < 50; ++i) {
        HWND t = child("t", main);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(std::count(seen.begin(), seen.end(), t), 0);
        seen.push_back(t);
        EXPECT_EQ(GetWindow(main, GW_CHILD), t);
        EXPECT_EQ(GetWindow(t, GW_HWNDNEXT), b);
        ASSERT_TRUE(DestroyWindow(t));
        EXPECT_FALSE(IsWindow(t));
        EXPECT_EQ(GetWindow(t, GW_HWNDNEXT), nullptr);
    }

    HWND second = topLevel("second");
    HWND third = topLevel("third");
    EXPECT_EQ(walk(third), (Strings{"third", "second", "main"}));
    ASSERT_TRUE(DestroyWindow(second));
    EXPECT_EQ(walk(third), (Strings{"third", "main"}));
    // Every handle in the table, oldest first, whatever slots they took.
    EXPECT_EQ(platform::allWindows(), (std::vector<HWND>{main, b, third}));
}

TEST_F(Windows, TopLevelParentArgumentIsTheOwner) {
    HWND main = topLevel("main");
    HWND kid = child("kid", main);
    HWND owned = topLevel("owned", main);
    HWND ownedViaChild = topLevel("owned2", kid); // the owner is the child's top-level window
    EXPECT_EQ(GetWindow(owned, GW_OWNER), main);
    EXPECT_EQ(GetWindow(ownedViaChild, GW_OWNER), main);
    EXPECT_EQ(GetWindow(main, GW_CHILD), kid); // owned windows are not children
    EXPECT_EQ(GetWindow(kid, GW_HWNDNEXT), nullptr);
}

TEST_F(Windows, SlotZeroIsPointerSizedEvenForFourExtraBytes) {
    ASSERT_NE(recorder::registerClass("Station", recorder::recordingProc, 4), 0);
    HWND main = topLevel("main");
    HWND s =
        CreateWindowExA(0, "Station", "s", WS_CHILD, 0, 0, 0, 0, main, nullptr, nullptr, nullptr);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(GetWindowLongPtrA(s, 0), 0);
    int record = 0;
    auto pointer = reinterpret_cast<LONG_PTR>(&record);
    EXPECT_EQ(SetWindowLongPtrA(s, 0, pointer), 0);
    EXPECT_EQ(GetWindowLongPtrA(s, 0), pointer);
    EXPECT_EQ(SetWindowLongPtrA(s, 0, 0), pointer);
    EXPECT_EQ(GetWindowLongPtrA(s, 0), 0);
    // Beyond the slot, and on a class without extra bytes: nothing.
    EXPECT_EQ(SetWindowLongPtrA(s, 8, 5), 0);
    EXPECT_EQ(GetWindowLongPtrA(s, 8), 0);
    EXPECT_EQ(SetWindowLongPtrA(main, 0, 5), 0);
    EXPECT_EQ(GetWindowLongPtrA(main, 0), 0);
}

TEST_F(Windows, WindowProcedureCanBeReadAndReplaced) {
    HWND w = topLevel("w");
    EXPECT_EQ(GetWindowLongPtrA(w, GWLP_WNDPROC),
              reinterpret_cast<LONG_PTR>(&recorder::recordingProc));
    static int replaced = 0;
    WNDPROC other = [](HWND, UINT msg, WPARAM, LPARAM) -> LRESULT {
        replaced += msg == WM_USER ? 1 : 0;
        return 42;
    };
    EXPECT_EQ(SetWindowLongPtrA(w, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(other)),
              reinterpret_cast<LONG_PTR>(&recorder::recordingProc));
    EXPECT_EQ(SendMessageA(w, WM_USER, 0, 0), 42);
    EXPECT_EQ(replaced, 1);
}

TEST_F(Windows, TitleIsCopiedAndCut) {
    HWND w = topLevel("cVARDE");
    char buf[4];
    EXPECT_EQ(GetWindowTextA(w, buf, sizeof(buf)), 3);
    EXPECT_STREQ(buf, "cVA");
    ASSERT_TRUE(SetWindowTextA(w, "CLOSING..."));
    EXPECT_EQ(recorder::titleOf(w), "CLOSING...");
    ASSERT_TRUE(SetWindowTextA(w, nullptr));
    EXPECT_EQ(recorder::titleOf(w), "");
}

// Owned windows first; WM_DESTROY to the window, then its children depth first;
// WM_NCDESTROY to the children, then the window.
TEST_F(Windows, DestructionOrder) {
    HWND main = topLevel("main");
    HWND c1 = child("c1", main);
    child("g1", c1);
    child("c2", main);
    topLevel("owned", main);
    events().clear();
    ASSERT_TRUE(DestroyWindow(main));
    EXPECT_EQ(events(), (Strings{"owned:DESTROY", "owned:NCDESTROY", "main:DESTROY", "c2:DESTROY",
                                 "c1:DESTROY", "g1:DESTROY", "c2:NCDESTROY", "g1:NCDESTROY",
                                 "c1:NCDESTROY", "main:NCDESTROY"}));
    EXPECT_EQ(FindWindowA("Rec", nullptr), nullptr);
}

// Procedures walk, send to and destroy windows while they are being destroyed: every
// window still answers, and no window gets a message of destruction twice.
TEST_F(Windows, DestructionIsSafeAgainstReentrantCalls) {
    HWND main = topLevel("main");
    HWND c1 = child("c1", main);
    HWND c2 = child("c2", main);
    int walked = 0;
    BOOL secondDestroy = TRUE;
    BOOL childDestroy = TRUE;
    reaction() = [&](HWND h, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_DESTROY && h == main) {
            for (HWND c = GetWindow(main, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
                SendMessageA(c, WM_USER + 104, 0, 0);
                ++walked;
            }
            secondDestroy = DestroyWindow(main);
            childDestroy = DestroyWindow(c1);
        }
        if (msg == WM_DESTROY && h == c2) {
            SendMessageA(c2, WM_USER + 104, 0, 0); // the window's own teardown
            DestroyWindow(c2);
        }
        return false;
    };
    events().clear();
    ASSERT_TRUE(DestroyWindow(main));
    EXPECT_EQ(walked, 2);
    EXPECT_FALSE(secondDestroy);
    EXPECT_FALSE(childDestroy);
    EXPECT_EQ(events(), (Strings{"main:DESTROY", "c2:1128", "c1:1128", "c2:DESTROY", "c2:1128",
                                 "c1:DESTROY", "c2:NCDESTROY", "c1:NCDESTROY", "main:NCDESTROY"}));
    EXPECT_FALSE(IsWindow(c1));
    EXPECT_FALSE(IsWindow(c2));
}

TEST_F(Windows, ChildDestroyingItsParentFromItsOwnDestroy) {
    HWND main = topLevel("main");
    HWND c1 = child("c1", main);
    reaction() = [&](HWND h, UINT msg, WPARAM, LPARAM, LRESULT*) {
        if (msg == WM_DESTROY && h == c1) {
            DestroyWindow(main);
        }
        return false;
    };
    events().clear();
    ASSERT_TRUE(DestroyWindow(c1));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_FALSE(IsWindow(c1));
    EXPECT_EQ(events(), (Strings{"c1:DESTROY", "main:DESTROY", "c1:NCDESTROY", "main:NCDESTROY"}));
}

TEST_F(Windows, MdiClientCreatesChildrenInFrontAndDestroysThem) {
    ASSERT_NE(recorder::registerClass("Station", recorder::recordingChildProc, 4), 0);
    HWND main = topLevel("main");
    CLIENTCREATESTRUCT ccs{nullptr, 2104};
    HWND client = CreateWindowExA(0, "MDICLIENT", nullptr, WS_CHILD | WS_CLIPCHILDREN, 0, 0, 0, 0,
                                  main, nullptr, nullptr, &ccs);
    ASSERT_NE(client, nullptr);
    MDICREATESTRUCTA mcs{"Station", "s1", nullptr, 0, 0, 10, 10, 0, 0};
    auto s1 = reinterpret_cast<HWND>(
        SendMessageA(client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    mcs.szTitle = "s2";
    auto s2 = reinterpret_cast<HWND>(
        SendMessageA(client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)));
    ASSERT_NE(s1, nullptr);
    ASSERT_NE(s2, nullptr);
    EXPECT_EQ(GetWindow(client, GW_CHILD), s2);
    EXPECT_EQ(GetWindow(s2, GW_HWNDNEXT), s1);
    EXPECT_EQ(GetWindow(s1, GW_OWNER), nullptr);

    mcs.szClass = "NoSuchClass";
    EXPECT_EQ(SendMessageA(client, WM_MDICREATE, 0, reinterpret_cast<LPARAM>(&mcs)), 0);

    events().clear();
    SendMessageA(client, WM_MDIDESTROY, reinterpret_cast<WPARAM>(s2), 0);
    EXPECT_FALSE(IsWindow(s2));
    EXPECT_EQ(GetWindow(client, GW_CHILD), s1);
    // WM_CLOSE to an MDI child: default processing asks the client to destroy it.
    SendMessageA(s1, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(s1));
    EXPECT_EQ(GetWindow(client, GW_CHILD), nullptr);
    EXPECT_EQ(events(),
              (Strings{"s2:DESTROY", "s2:NCDESTROY", "s1:CLOSE", "s1:DESTROY", "s1:NCDESTROY"}));
}

TEST_F(Windows, DefaultCloseDestroysAndRestoreShowsNormally) {
    HWND w = topLevel("w", nullptr, WS_POPUP | WS_CAPTION);
    ShowWindow(w, SW_SHOWMINIMIZED);
    EXPECT_EQ(DefFrameProcA(w, nullptr, WM_SYSCOMMAND, SC_RESTORE, 0), 0);
    EXPECT_EQ(DefWindowProcA(w, WM_USER + 200, 1, 2), 0);
    EXPECT_TRUE(IsWindow(w));
    SendMessageA(w, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(w));
}

TEST_F(Windows, IconicStateFollowsShowWindowAndTheFrontEnd) {
    HWND w = topLevel("w", nullptr, WS_POPUP | WS_CAPTION);
    HWND kid = child("kid", w);
    EXPECT_TRUE(IsIconic(w)); // the minimised front end: every top-level window
    EXPECT_FALSE(IsIconic(kid));
    testutil::ScreenFrontEnd drawing(true);
    auto guard = std::make_unique<recorder::FrontEndGuard>(&drawing);
    EXPECT_FALSE(IsIconic(w));
    EXPECT_FALSE(ShowWindow(w, SW_SHOWMINIMIZED));
    EXPECT_TRUE(IsIconic(w));
    EXPECT_TRUE(ShowWindow(w, SW_RESTORE));
    EXPECT_FALSE(IsIconic(w));
    ShowWindow(w, SW_SHOWMINIMIZED);
    DefWindowProcA(w, WM_SYSCOMMAND, SC_RESTORE, 0);
    EXPECT_FALSE(IsIconic(w));
    guard.reset();
    EXPECT_TRUE(IsIconic(w));
    EXPECT_EQ(platform::frontEnd()->canShowDialogs(), false);
}

TEST_F(Windows, FocusIsRecorded) {
    HWND a = topLevel("a");
    HWND b = topLevel("b");
    EXPECT_EQ(SetFocus(a), nullptr);
    EXPECT_EQ(SetFocus(b), a);
    DestroyWindow(b);
    EXPECT_EQ(SetFocus(a), nullptr); // the destroyed window lost it
}

TEST_F(Windows, FindWindowLooksAtTopLevelWindowsOfTheClass) {
    // A class name of this process alone, so that no other program announces it.
    const std::string cls = "FindMe" + std::to_string(getpid());
    std::string lower = cls;
    lower[0] = 'f';
    ASSERT_NE(recorder::registerClass(cls.c_str()), 0);
    HWND main = CreateWindowExA(0, cls.c_str(), "cVARDE", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                nullptr, nullptr);
    child("kid", main);
    EXPECT_EQ(FindWindowA(lower.c_str(), nullptr), main);
    EXPECT_EQ(FindWindowA(cls.c_str(), "cVARDE"), main);
    EXPECT_EQ(FindWindowA(cls.c_str(), "other"), nullptr);
    EXPECT_EQ(FindWindowA("Rec", nullptr), nullptr); // only a child of that class
    DestroyWindow(main);
    EXPECT_EQ(FindWindowA(cls.c_str(), nullptr), nullptr);
}

TEST_F(Windows, RemoteWindowsAreWindowsButNotLocal) {
    HWND remote = platform::newRemoteWindow("Omvar_v");
    EXPECT_TRUE(platform::isRemoteWindow(remote));
    EXPECT_TRUE(IsWindow(remote));
    EXPECT_EQ(GetWindow(remote, GW_CHILD), nullptr);
    HWND local = topLevel("local");
    EXPECT_FALSE(platform::isRemoteWindow(local));
    EXPECT_FALSE(platform::isRemoteWindow(nullptr));
    EXPECT_EQ(SetTimer(remote, 1, 100, nullptr), 0u);
    platformReset();
    EXPECT_FALSE(IsWindow(remote));
}

TEST_F(Windows, ResetDestroysEveryWindowAndForgetsClasses) {
    HWND main = topLevel("main");
    child("kid", main);
    events().clear();
    platformReset();
    EXPECT_EQ(events(),
              (Strings{"main:DESTROY", "kid:DESTROY", "kid:NCDESTROY", "main:NCDESTROY"}));
    EXPECT_FALSE(IsWindow(main));
    EXPECT_EQ(topLevel("again"), nullptr); // class "Rec" is gone
    EXPECT_NE(recorder::registerClass("Rec"), 0);
}

} // namespace
