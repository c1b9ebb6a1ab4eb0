// A program with a main window and a panel of lines below it in the terminal window, for
// the tests of the panel:
//
//   panel_program LOG COUNT
//
// The panel holds COUNT lines (at most 99) "LINE nn"; Enter, Del, c or d on a line asks
// "KEY LINE nn?" with Yes and No, and appends "yes INDEX KEY" or "no INDEX KEY" to LOG; a
// yes marks the line " (done KEY)" and redraws the panel. Ends with exit 0 at SIGTERM or
// when the main window closes.
#include "frontend/terminal/terminal_window.h"
#include "platform/runtime.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const char* logPath = nullptr;
int lineCount = 0;
int doneKey[100];

int countLines(void*) {
    return lineCount;
}

size_t lineOf(int index, char* out, size_t size, void*) {
    int n = doneKey[index] != 0
                ? std::snprintf(out, size, "LINE %02d (done %c)", index + 1, doneKey[index])
                : std::snprintf(out, size, "LINE %02d", index + 1);
    return n < 0 ? 0 : static_cast<size_t>(n);
}

char keyName(int key) {
    return key == PLATFORM_PANEL_ENTER    ? 'E'
           : key == PLATFORM_PANEL_DELETE ? 'X'
                                          : static_cast<char>(key);
}

void act(int index, int key, void*) {
    char question[64];
    std::snprintf(question, sizeof question, "%c LINE %02d?", keyName(key), index + 1);
    int answer = MessageBoxA(nullptr, question, "CONFIRM", MB_YESNO);
    if (FILE* f = std::fopen(logPath, "a")) {
        std::fprintf(f, "%s %d %c\n", answer == IDYES ? "yes" : "no", index, keyName(key));
        std::fclose(f);
    }
    if (answer == IDYES) {
        doneKey[index] = keyName(key);
        platformPanelChanged();
    }
}

LRESULT windowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wParam, lParam);
    }
}

} // namespace

int main(int argc, char** argv) {
    platformInstallSignalHandlers();
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s LOG COUNT\n", argv[0]);
        return 2;
    }
    logPath = argv[1];
    lineCount = std::atoi(argv[2]);
    if (lineCount < 0 || lineCount > 99) {
        return 2;
    }
    char why[160];
    if (!platformUseTerminalFrontEnd(why, sizeof why)) {
        std::fprintf(stderr, "%s\n", why);
        return 2;
    }
    WNDCLASSA wc{};
    wc.lpfnWndProc = windowProc;
    wc.lpszClassName = "PanelTest";
    if (RegisterClassA(&wc) == 0) {
        return 1;
    }
    HWND hwnd = CreateWindowExA(0, "PanelTest", "PANEL TEST", WS_POPUP | WS_CAPTION | WS_SYSMENU, 0,
                                0, 275, 57, nullptr, nullptr, nullptr, nullptr);
    if (hwnd == nullptr) {
        return 1;
    }
    PlatformPanel panel{countLines, lineOf, nullptr, "LINES"};
    platformSetPanel(&panel);
    platformSetPanelAction(act, nullptr);
    ShowWindow(hwnd, SW_SHOWNORMAL);
    MSG msg{};
    while (GetMessageA(&msg, nullptr, 0, 0)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return static_cast<int>(msg.wParam);
}
