// Windows, window classes, the thread message queue and timers. One thread, one queue:
// PostMessageA appends, SendMessageA calls the procedure at once; PeekMessageA and
// GetMessageA look at the clock and the watched descriptors before they answer, so a
// backlog is visible as it builds up. A message for a dead window is dropped.
#pragma once

#include "platform/types.h"

struct WNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    const char* lpszMenuName; // MAKEINTRESOURCEA(id) of a menu in the instance's resources
    const char* lpszClassName;
};

struct CREATESTRUCTA {
    void* lpCreateParams;
    HINSTANCE hInstance;
    HMENU hMenu;
    HWND hwndParent;
    int cy;
    int cx;
    int y;
    int x;
    LONG style;
    const char* lpszName;
    const char* lpszClass;
    DWORD dwExStyle;
};

// Creation data of the built-in class "MDICLIENT".
struct CLIENTCREATESTRUCT {
    HMENU hWindowMenu;
    UINT idFirstChild;
};

// WM_MDICREATE's lParam: the MDI child to create inside the MDI client.
struct MDICREATESTRUCTA {
    const char* szClass;
    const char* szTitle;
    HINSTANCE hOwner;
    int x;
    int y;
    int cx;
    int cy;
    DWORD style;
    LPARAM lParam;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
};

// Registers a window class; 0 when the name is taken or the data is unusable.
ATOM RegisterClassA(const WNDCLASSA* wc);

// Creates a window (a child in front of its siblings), sends WM_NCCREATE and WM_CREATE
// (lParam: CREATESTRUCTA*); a WM_CREATE result of -1 destroys it and gives nullptr.
HWND CreateWindowExA(DWORD exStyle, const char* className, const char* title, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     void* param);

// Destroys owned windows, then WM_DESTROY to the window and its children (depth first),
// then WM_NCDESTROY to the children and the window; FALSE for no window.
BOOL DestroyWindow(HWND hwnd);

// True while the window exists (created and not yet destroyed).
BOOL IsWindow(HWND hwnd);

// GW_CHILD: first (front-most) child; GW_HWNDNEXT: next sibling; GW_OWNER: owner.
HWND GetWindow(HWND hwnd, UINT relation);

// GWLP_WNDPROC, GWL_STYLE, GWL_ID; an index of 0 or more reads the pointer-sized extra
// slot at that byte offset (0 when out of range).
LONG_PTR GetWindowLongPtrA(HWND hwnd, int index);
// Sets a slot (or the procedure) and returns the previous value.
LONG_PTR SetWindowLongPtrA(HWND hwnd, int index, LONG_PTR value);

// Replaces the title text; a shown top-level window's title is the status line.
BOOL SetWindowTextA(HWND hwnd, const char* text);
// Copies the title into buf (at most size - 1 characters, terminated); returns its length.
int GetWindowTextA(HWND hwnd, char* buf, int size);

// Default processing. WM_CLOSE destroys the window; the rest returns 0.
LRESULT DefWindowProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Default processing of an MDI frame window with the given MDI client.
LRESULT DefFrameProcA(HWND hwnd, HWND mdiClient, UINT msg, WPARAM wParam, LPARAM lParam);
// Default processing of an MDI child: WM_CLOSE asks its MDI client to destroy it.
LRESULT DefMDIChildProcA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

// SW_SHOWMINIMIZED makes the window iconic; other commands show it normally.
BOOL ShowWindow(HWND hwnd, int command);
BOOL UpdateWindow(HWND hwnd);
// Every top-level window counts as iconic while the front end says so (the minimised one,
// or none installed).
BOOL IsIconic(HWND hwnd);
// Screen rectangle of the window as created (or as moved by the front end).
BOOL GetWindowRect(HWND hwnd, RECT* rect);
// Gives the window the keyboard focus; returns the window that had it.
HWND SetFocus(HWND hwnd);
// The window that has the keyboard focus (nullptr when none).
HWND GetFocus();
// The parent of a child window; nullptr for a top-level window.
HWND GetParent(HWND hwnd);
// True when the window is shown and not being destroyed.
BOOL IsWindowVisible(HWND hwnd);
// Copies the class name as registered (at most size - 1 characters); 0 for no window.
int GetClassNameA(HWND hwnd, char* buf, int size);

// A top-level window of the class, here or announced by another program on the desktop.
HWND FindWindowA(const char* className, const char* title);

BOOL PostMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageA(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Waits for the next message of the thread; 0 for WM_QUIT, else nonzero.
BOOL GetMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax);
// The first waiting message within the filter (hwnd nullptr: any window; min = max = 0:
// any message); PM_REMOVE takes it out of the queue. FALSE when none is waiting.
BOOL PeekMessageA(MSG* msg, HWND hwnd, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* msg);
// Calls the procedure of the message's window; a message for a dead window is dropped.
LRESULT DispatchMessageA(const MSG* msg);
// Puts WM_QUIT with the code in the queue.
void PostQuitMessage(int exitCode);

// Starts (or restarts) a window's timer: a WM_TIMER each period, never two waiting for one
// timer. Returns the id; 0 for no window or id 0.
UINT_PTR SetTimer(HWND hwnd, UINT_PTR id, UINT periodMs, void* timerProc);
BOOL KillTimer(HWND hwnd, UINT_PTR id);

// Milliseconds of the platform clock (real, not scaled; the manual clock in tests).
DWORD GetTickCount();

// Resources and stock objects: handles that only need to be non-null.
HICON LoadIconA(HINSTANCE instance, const char* name);
HCURSOR LoadCursorA(HINSTANCE instance, const char* name);
HGDIOBJ GetStockObject(int object);
