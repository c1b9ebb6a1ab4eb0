// Resources (menus and dialog templates as data), dialogs, message boxes and the few
// drawing objects that dialogs hand out for colour requests.
//
// Dialogs are windows of the platform's dialog class whose children are the template's
// controls (child windows with ids and texts). The dialog procedure sees WM_INITDIALOG,
// WM_COMMAND and colour requests; whatever it does not handle gets default dialog
// processing: WM_CLOSE issues command IDCANCEL. A front end draws them and turns keys
// into commands (Enter: the default button; Escape: IDCANCEL).
#pragma once

#include "platform/types.h"

enum class ControlKind { Static, Edit, Button, ListBox };

struct DialogControl {
    int id;
    ControlKind kind;
    const char* text;
    DWORD style;
    short x, y, w, h; // dialog units
};

struct DialogTemplate {
    int id;
    const char* caption;
    DWORD style;
    short x, y, w, h; // dialog units
    const char* font;
    int pointSize;
    const DialogControl* controls;
    int controlCount;
};

struct MenuItemTemplate {
    int id;
    const char* caption;
    bool rightJustified; // placed at the right-hand end of the menu bar
};

struct MenuTemplate {
    int id;
    const MenuItemTemplate* items;
    int itemCount;
};

// A module instance: the resources that its windows and dialogs are made from.
struct HINSTANCE__ {
    const MenuTemplate* const* menus;
    int menuCount;
    const DialogTemplate* const* dialogs;
    int dialogCount;
};

// The template of the instance with that number, or nullptr.
const DialogTemplate* platformFindDialog(HINSTANCE instance, const char* name);
const MenuTemplate* platformFindMenu(HINSTANCE instance, const char* name);
// The menu template attached to a window through its class, or nullptr.
const MenuTemplate* platformWindowMenu(HWND hwnd);

// Modal dialog: runs its own message loop until EndDialog and returns the result; -1
// when it cannot be shown (no template, or no front end that can show a dialog).
INT_PTR DialogBoxParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
// Modeless dialog, owned by owner; nullptr when it cannot be made. It exists (and can be
// driven by messages) whether or not a front end draws it.
HWND CreateDialogParamA(HINSTANCE instance, const char* templateName, HWND owner, DLGPROC proc,
                        LPARAM param);
// Ends a dialog with a result: a modal dialog's loop returns it; a modeless one is hidden.
BOOL EndDialog(HWND dialog, INT_PTR result);
// True (and the result) once EndDialog was called for the dialog.
bool platformDialogEnded(HWND dialog, INT_PTR* result);
HWND GetDlgItem(HWND dialog, int id);
// Copies a control's text (at most max - 1 characters, terminated); returns its length.
UINT GetDlgItemTextA(HWND dialog, int id, char* buf, int max);
BOOL SetDlgItemTextA(HWND dialog, int id, const char* text);

// Shows a modal box and returns the button pressed (IDOK). Without a front end the caption
// and the text go to standard error and the box is answered IDOK at once.
int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type);

// Drawing context and brushes, enough for colour requests.
HDC GetDC(HWND hwnd);
int ReleaseDC(HWND hwnd, HDC hdc);
COLORREF SetTextColor(HDC hdc, COLORREF colour);
COLORREF SetBkColor(HDC hdc, COLORREF colour);
COLORREF GetTextColor(HDC hdc);
COLORREF GetBkColor(HDC hdc);
HBRUSH CreateSolidBrush(COLORREF colour);
BOOL DeleteObject(HGDIOBJ object);
// The colour of a solid brush (for the front end and tests); 0 for an unknown brush.
COLORREF platformBrushColour(HBRUSH brush);
// Number of brushes created and not yet deleted (leak checks).
int platformLiveBrushes();
