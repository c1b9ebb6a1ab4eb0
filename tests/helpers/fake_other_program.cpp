// Another program of the desktop: shows one top-level window of a given class, announces
// it on the desktop registry, prints what the window is asked to do and ends by itself.
//
//   fake_other_program CLASS [--minimised] [--seconds N]
//
// Prints "ready" once the window is announced, then one line per request that reaches the
// window ("WM_SYSCOMMAND f120" for a restore, "focused" when it was given the focus), and
// ends after N seconds (default 5, at most 60) or at SIGTERM.
#include "platform/desktop/desktop.h"
#include "platform/loop/loop.h"
#include "platform/runtime.h"
#include "platform/window/frontend.h"
#include "platform/window/window.h"
#include "support/screen_front_end.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

LRESULT windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SYSCOMMAND) {
        std::printf("WM_SYSCOMMAND %lx\n", static_cast<unsigned long>(wParam));
        std::fflush(stdout);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wParam, lParam);
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s CLASS [--minimised] [--seconds N]\n", argv[0]);
        return 2;
    }
    const char* className = argv[1];
    bool minimised = false;
    long seconds = 5;
    for (int i = 2; i < argc; ++i) {
        if (std::strcmp(argv[i], "--minimised") == 0) {
            minimised = true;
        } else if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = std::strtol(argv[++i], nullptr, 10);
        }
    }
    if (seconds < 1 || seconds > 60) {
        seconds = 5;
    }
    testutil::ScreenFrontEnd screen;
    platform::setFrontEnd(&screen);
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.lpszClassName = className;
    if (RegisterClassA(&wc) == 0) {
        return 1;
    }
    HWND hwnd = CreateWindowExA(0, className, "fake", WS_CAPTION | WS_SYSMENU, 0, 0, 100, 50,
                                nullptr, nullptr, nullptr, nullptr);
    if (hwnd == nullptr) {
        return 1;
    }
    ShowWindow(hwnd, minimised ? SW_SHOWMINIMIZED : SW_SHOWNORMAL);
    platform::desktopAnnounce(hwnd, className);
    std::printf("ready\n");
    std::fflush(stdout);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < deadline) {
        platform::pollSources(20);
        platformDispatchPending(100);
        // Taking the focus back each time shows every focus request once.
        if (SetFocus(nullptr) == hwnd) {
            std::printf("focused\n");
            std::fflush(stdout);
        }
    }
    DestroyWindow(hwnd);
    platform::setFrontEnd(nullptr);
    return 0;
}
