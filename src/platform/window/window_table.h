// The window table: one record per window, found by handle. A handle is a serial number
// never reused within a run, so a stale handle is not found and a later window's handle
// compares greater. Nothing above the platform layer includes it.
#pragma once

#include "platform/types.h"
#include "platform/window/dialog.h"
#include "platform/window/window.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// What a dialog window carries besides its window record.
struct DialogData {
    DLGPROC proc = nullptr;
    const DialogTemplate* tmpl = nullptr;
    bool modal = false;
};

struct Window {
    HWND handle = nullptr;
    std::string className; // as registered (or the built-in name)
    WNDPROC proc = nullptr;
    std::vector<unsigned char> extra; // extra bytes, rounded up to whole pointer slots
    HWND parent = nullptr;            // child windows only
    HWND owner = nullptr;             // top-level windows only
    std::vector<HWND> children;       // front-most first
    std::string title;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};       // as created, or as moved by the front end
    int controlId = 0; // child windows: the id given as the menu argument
    HINSTANCE instance = nullptr;
    const MenuTemplate* menu = nullptr; // class menu of a top-level window
    bool visible = false;
    bool everShown = false; // ShowWindow made it visible at least once
    bool iconic = false;
    bool remote = false;    // stands for a window of another program
    bool announced = false; // announced on the desktop registry
    bool signalled = false; // a signal's WM_CLOSE was posted to it
    bool destroying = false;
    bool destroySent = false;
    bool ncDestroySent = false;
    std::unique_ptr<DialogData> dialog; // dialog windows only
};

// The records by handle, oldest first, owned by the table (window.cpp creates and deletes
// them).
extern std::map<uintptr_t, std::unique_ptr<Window>> windowTable;

// The record found last and its handle (0: none), so that the run of look-ups for one
// message (post, dispatch, procedure) costs one search; a record's erase clears it.
extern uintptr_t lastFoundKey;
extern Window* lastFound;

// The live record of a handle (including windows being destroyed), or nullptr.
inline Window* findWindow(HWND hwnd) {
    const auto key = reinterpret_cast<uintptr_t>(hwnd);
    if (key == lastFoundKey && key != 0) {
        return lastFound;
    }
    auto it = windowTable.find(key);
    if (it == windowTable.end()) {
        return nullptr;
    }
    lastFoundKey = key;
    lastFound = it->second.get();
    return lastFound;
}
// Local top-level windows, front-most (newest) first.
std::vector<HWND> topLevelWindows();
// Every handle in the table (local and remote), oldest first.
std::vector<HWND> allWindows();

enum class Placement { Front, Back };
// Creates a window as CreateWindowExA does, placed among its siblings as asked (dialog
// controls go to the back); a dialog's DialogData is in place before the creation messages.
HWND createWindow(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                  int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                  void* param, Placement placement, std::unique_ptr<DialogData> dialog);

// Calls the window's procedure; 0 when the window does not exist or has none.
LRESULT callWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// The class names of dialog windows and of the control kinds.
inline constexpr const char* kDialogClass = "#32770";
const char* controlClassName(ControlKind kind);

// Procedures of the built-in classes.
LRESULT mdiClientProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT controlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT dialogWindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// A window record that stands for a top-level window of another program.
HWND newRemoteWindow(const char* className);
bool isRemoteWindow(HWND hwnd);

// Forgets every window (destroying the local ones first) and every registered class.
void resetWindows();
// Forgets the front end and the hooks of tests; dialogs; drawing objects (platformReset).
void resetFrontEnd();
void resetDialogs();
void resetGdi();

} // namespace platform
