// Test helpers for the window core: a window class whose procedure records every
// message it sees as "title:MESSAGE", with an optional reaction per test.
#pragma once

#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"

#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace recorder {

inline std::vector<std::string>& events() {
    static std::vector<std::string> list;
    return list;
}

// Called for every message before it is recorded; returns true when it answered the
// message itself (result in *result).
using Reaction = std::function<bool(HWND, UINT, WPARAM, LPARAM, LRESULT* result)>;
inline Reaction& reaction() {
    static Reaction r;
    return r;
}

// The lines of text written by the front end, each without its newline; the text must end
// with one (checked).
inline std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', start)) {
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    EXPECT_EQ(start, text.size()) << "every line ends with a newline";
    return lines;
}

inline std::string messageName(UINT msg) {
    switch (msg) {
    case WM_CREATE:
        return "CREATE";
    case WM_NCCREATE:
        return "NCCREATE";
    case WM_DESTROY:
        return "DESTROY";
    case WM_NCDESTROY:
        return "NCDESTROY";
    case WM_CLOSE:
        return "CLOSE";
    case WM_TIMER:
        return "TIMER";
    case WM_COMMAND:
        return "COMMAND";
    case WM_SYSCOMMAND:
        return "SYSCOMMAND";
    default:
        return std::to_string(msg);
    }
}

inline std::string titleOf(HWND hwnd) {
    char buf[64];
    GetWindowTextA(hwnd, buf, sizeof(buf));
    return buf;
}

// Records, reacts, and otherwise gives default processing.
inline LRESULT recordingProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    std::string name = msg == WM_NCCREATE || msg == WM_CREATE
                           ? std::string(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpszName)
                           : titleOf(hwnd);
    events().push_back(name + ":" + messageName(msg));
    LRESULT result = 0;
    if (reaction() && reaction()(hwnd, msg, wParam, lParam, &result)) {
        return result;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

// Same, but MDI child default processing.
inline LRESULT recordingChildProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    events().push_back(titleOf(hwnd) + ":" + messageName(msg));
    LRESULT result = 0;
    if (reaction() && reaction()(hwnd, msg, wParam, lParam, &result)) {
        return result;
    }
    return DefMDIChildProcA(hwnd, msg, wParam, lParam);
}

inline ATOM registerClass(const char* name, WNDPROC proc = recordingProc, int extra = 0) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = extra;
    wc.lpszClassName = name;
    return RegisterClassA(&wc);
}

// A top-level window of class "Rec" titled title (parent: its owner).
inline HWND topLevel(const char* title, HWND owner = nullptr, DWORD style = WS_POPUP) {
    return CreateWindowExA(0, "Rec", title, style, 10, 20, 300, 40, owner, nullptr, nullptr,
                           nullptr);
}

inline HWND child(const char* title, HWND parent) {
    return CreateWindowExA(0, "Rec", title, WS_CHILD, 0, 0, 0, 0, parent, nullptr, nullptr,
                           nullptr);
}

// Sets a front end for the scope; the one before comes back when it ends.
struct FrontEndGuard {
    explicit FrontEndGuard(platform::FrontEnd* frontEnd) : before(platform::frontEnd()) {
        platform::setFrontEnd(frontEnd);
    }
    ~FrontEndGuard() { platform::setFrontEnd(before); }
    platform::FrontEnd* before;
    FrontEndGuard(const FrontEndGuard&) = delete;
    FrontEndGuard& operator=(const FrontEndGuard&) = delete;
};

// Every test starts and ends with a clean platform and an empty record.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        platformReset();
        events().clear();
        reaction() = nullptr;
        ASSERT_NE(registerClass("Rec"), 0);
    }
    void TearDown() override {
        reaction() = nullptr;
        platformReset();
        events().clear();
    }
};

} // namespace recorder
