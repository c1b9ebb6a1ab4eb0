// Dialogs in the terminal: a box at the template's place with its controls, each painted in
// the colours the dialog gives (WM_CTLCOLOR*). Tab and the arrows move the focus, Enter
// presses the focused or default button, Escape is IDCANCEL (or WM_CLOSE without one).
#include "frontend/terminal/terminal.h"
#include "frontend/terminal/terminal_window.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace platform::term {
namespace {

constexpr int kAutoScrollLimit = 255;

enum class Kind { Static, Edit, Button, ListBox, Other };

// A control kind by class name, and the colour request sent before a control is painted.
struct KindInfo {
    const char* className;
    Kind kind;
    UINT colourMessage;
};
constexpr KindInfo kKinds[] = {{"STATIC", Kind::Static, WM_CTLCOLORSTATIC},
                               {"EDIT", Kind::Edit, WM_CTLCOLOREDIT},
                               {"BUTTON", Kind::Button, WM_CTLCOLORBTN},
                               {"LISTBOX", Kind::ListBox, WM_CTLCOLORLISTBOX},
                               {"", Kind::Other, WM_CTLCOLORSTATIC}};

// The kind of a control (Other for another class, or no window).
const KindInfo& kindOf(HWND control) {
    char name[16] = "";
    GetClassNameA(control, name, sizeof name);
    for (const KindInfo& k : kKinds) {
        if (strcasecmp(name, k.className) == 0) {
            return k;
        }
    }
    return kKinds[4];
}

int controlId(HWND control) {
    return static_cast<int>(GetWindowLongPtrA(control, GWL_ID));
}

// A window's rectangle, in dialog units, as cells.
CellRect cellsOf(HWND hwnd) {
    RECT rc{};
    GetWindowRect(hwnd, &rc);
    return dialogUnitsToCells(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
}

// The dialog's controls, in the template's order.
std::vector<HWND> controlsOf(HWND dialog) {
    std::vector<HWND> controls;
    for (HWND c = GetWindow(dialog, GW_CHILD); c != nullptr; c = GetWindow(c, GW_HWNDNEXT)) {
        controls.push_back(c);
    }
    return controls;
}

// Asks the dialog for a control's colours. When it answers with a brush, *text gets its
// text and background colours and *fill the brush's colour, all exact.
bool askColours(HWND dialog, UINT msg, HWND control, Paint* text, Paint* fill) {
    HDC hdc = GetDC(control);
    LRESULT brush =
        SendMessageA(dialog, msg, reinterpret_cast<WPARAM>(hdc), reinterpret_cast<LPARAM>(control));
    if (brush != 0) {
        text->fg = GetTextColor(hdc);
        text->bg = GetBkColor(hdc);
        text->exact = true;
        text->reverseInMono = false;
        *fill = *text;
        fill->bg = platformBrushColour(reinterpret_cast<HBRUSH>(brush));
    }
    ReleaseDC(control, hdc);
    return brush != 0;
}

DialogView* viewOf(HWND dialog) {
    auto it = ui.views.find(dialog);
    return it == ui.views.end() ? nullptr : &it->second;
}

CellRect controlRect(const CellRect& dialog, HWND control) {
    CellRect c = cellsOf(control);
    c.x += dialog.x + 1;
    c.y += dialog.y + 1;
    return c;
}

std::vector<HWND> tabStops(HWND dialog) {
    std::vector<HWND> stops;
    for (HWND c : controlsOf(dialog)) {
        if (IsWindowVisible(c) && (windowStyle(c) & WS_TABSTOP) != 0) {
            stops.push_back(c);
        }
    }
    return stops;
}

void focusControl(DialogView& view, HWND control) {
    view.focus = control;
    view.cursor = static_cast<int>(windowText(control).size());
    SetFocus(control);
}

void moveFocus(HWND dialog, DialogView& view, int step) {
    std::vector<HWND> stops = tabStops(dialog);
    if (stops.empty()) {
        return;
    }
    auto at = std::find(stops.begin(), stops.end(), view.focus);
    int n = static_cast<int>(stops.size());
    int index = at == stops.end() ? 0 : (static_cast<int>(at - stops.begin()) + step + n) % n;
    focusControl(view, stops[static_cast<size_t>(index)]);
}

// The command of the default push button, or IDOK when the dialog has none.
int defaultCommand(HWND dialog) {
    for (HWND c : controlsOf(dialog)) {
        if (kindOf(c).kind == Kind::Button && (windowStyle(c) & 0x0F) == BS_DEFPUSHBUTTON) {
            return controlId(c);
        }
    }
    return IDOK;
}

bool postCommand(HWND dialog, int id) {
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0),
                 reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
    return true;
}

// "[ label ]" centred in the width when the brackets fit, else the label alone.
std::string buttonLine(const std::string& label, int width) {
    bool brackets = static_cast<int>(label.size()) + 2 <= width;
    size_t inner = static_cast<size_t>(std::max(brackets ? width - 2 : width, 0));
    std::string text = label.substr(0, inner);
    std::string line((inner - text.size()) / 2, ' ');
    line += text;
    line.resize(inner, ' ');
    return brackets ? "[" + line + "]" : line;
}

void drawControl(HWND dialog, const CellRect& box, HWND control, bool active, const Paint& face) {
    if (!IsWindowVisible(control)) {
        return;
    }
    DialogView* view = viewOf(dialog);
    bool focused = active && view != nullptr && view->focus == control;
    CellRect r = controlRect(box, control);
    const KindInfo& info = kindOf(control);
    Kind kind = info.kind;
    Paint text = face;
    if (kind == Kind::Edit || kind == Kind::ListBox) {
        text = fieldPaint();
    } else if (kind == Kind::Button) {
        text = buttonPaint(focused);
    }
    Paint fill = text;
    bool coloured = askColours(dialog, info.colourMessage, control, &text, &fill);
    if (!IsWindow(control)) {
        return; // the colour request may have changed the dialog
    }
    std::string title = windowText(control);
    std::string label = kind == Kind::Edit ? fieldText(title.c_str()) : cellText(title.c_str());
    switch (kind) {
    case Kind::Static: {
        if (coloured) {
            screenFill(r, fill);
        }
        std::vector<std::string> lines = wrapText(label, r.w, r.h);
        for (size_t i = 0; i < lines.size(); ++i) {
            screenPut(r.y + static_cast<int>(i), r.x, lines[i], text);
        }
        break;
    }
    case Kind::Edit: {
        std::string shown = label.substr(0, static_cast<size_t>(r.w));
        shown.resize(static_cast<size_t>(r.w), ' ');
        screenPut(r.y, r.x, shown, text);
        if (focused) {
            int cursor = std::clamp(view->cursor, 0, static_cast<int>(label.size()));
            screenCursor(r.y, r.x + std::min(cursor, r.w - 1));
        }
        break;
    }
    case Kind::Button:
        screenFill(r, fill);
        screenPut(r.y + (r.h - 1) / 2, r.x, buttonLine(label, r.w), text);
        break;
    case Kind::ListBox:
        screenFill(r, fill);
        break;
    case Kind::Other:
        break;
    }
}

// Editing keys of the focused edit field; nothing here needs the message loop.
void editKey(HWND control, DialogView& view, int key) {
    std::string text = windowText(control);
    DWORD style = windowStyle(control);
    int length = static_cast<int>(text.size());
    int cursor = std::clamp(view.cursor, 0, length);
    int limit = (style & ES_AUTOHSCROLL) != 0 ? kAutoScrollLimit : cellsOf(control).w;
    if (key == KEY_LEFT) {
        cursor = std::max(cursor - 1, 0);
    } else if (key == KEY_RIGHT) {
        cursor = std::min(cursor + 1, length);
    } else if (key == KEY_HOME) {
        cursor = 0;
    } else if (key == KEY_END) {
        cursor = length;
    } else if (key == KEY_BACKSPACE || key == 127 || key == 8) {
        if (cursor > 0) {
            text.erase(static_cast<size_t>(--cursor), 1);
        }
    } else if (key == KEY_DC) {
        if (cursor < length) {
            text.erase(static_cast<size_t>(cursor), 1);
        }
    } else if (key >= 0x20 && key < 0x7F && length < limit) {
        char c = static_cast<char>(key);
        if ((style & ES_UPPERCASE) != 0) {
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        }
        text.insert(static_cast<size_t>(cursor++), 1, c);
    }
    view.cursor = cursor;
    SetWindowTextA(control, text.c_str()); // an unchanged text changes nothing
}

} // namespace

void placeNewDialog(HWND dialog) {
    if (!IsWindow(dialog)) {
        return;
    }
    CellRect at = cellsOf(dialog);
    int x = at.x;
    int y = at.y;
    HWND owner = GetWindow(dialog, GW_OWNER);
    if (owner != nullptr && owner == ui.mainWindow) {
        CellRect main = mainWindowRect(); // relative to the client area, below the menu bar
        x += main.x + 1;
        y += main.y + 2;
    } else if (owner != nullptr && ui.views.count(owner) != 0) {
        CellRect ownerRect = dialogRect(owner);
        x += ownerRect.x + 1;
        y += ownerRect.y + 1;
    }
    // A dialog opened where another one is goes lower and to the right, so both show.
    for (int tries = 0; tries < 32; ++tries) {
        bool taken = false;
        for (const auto& [other, view] : ui.views) {
            taken = taken || (other != dialog && view.originX == x && view.originY == y);
        }
        if (!taken) {
            break;
        }
        x += 2;
        y += 1;
    }
    DialogView& view = ui.views[dialog];
    view.originX = x;
    view.originY = y;
    HWND focus = GetFocus();
    if (GetParent(focus) != dialog) {
        std::vector<HWND> stops = tabStops(dialog);
        focus = !stops.empty() ? stops.front() : GetWindow(dialog, GW_CHILD);
    }
    if (focus != nullptr) {
        focusControl(view, focus);
    }
}

CellRect dialogRect(HWND dialog) {
    DialogView* view = viewOf(dialog);
    if (!IsWindow(dialog) || view == nullptr) {
        return CellRect{};
    }
    CellRect size = cellsOf(dialog);
    // Wide enough for the caption and the close box, when the template is narrower.
    int captionWidth = static_cast<int>(cellText(windowText(dialog).c_str()).size()) + 6;
    CellRect r{view->originX, view->originY, std::max(size.w + 2, captionWidth), size.h + 2};
    return placeOnScreen(r, screenCols(), screenRows());
}

void drawDialog(HWND dialog, bool active) {
    if (!IsWindow(dialog) || viewOf(dialog) == nullptr) {
        return;
    }
    CellRect r = dialogRect(dialog);
    Paint face = facePaint();
    Paint fill = face;
    askColours(dialog, WM_CTLCOLORDLG, dialog, &face, &fill);
    if (!IsWindow(dialog)) {
        return;
    }
    bool closeBox = (windowStyle(dialog) & WS_SYSMENU) != 0;
    screenWindow(r, cellText(windowText(dialog).c_str()), r.w - 5, closeBox, active, face, fill);
    for (HWND c : controlsOf(dialog)) {
        drawControl(dialog, r, c, active, face);
    }
    // The function keys with their labels, on the bottom border.
    auto it = ui.dialogKeys.find(dialog);
    if (it == ui.dialogKeys.end() || r.h < 2) {
        return;
    }
    std::string line;
    for (const DialogKey& k : it->second) {
        char label[128];
        label[0] = '\0';
        if (k.label != nullptr) {
            size_t n = k.label(label, sizeof label, k.context);
            label[std::min(n, sizeof label - 1)] = '\0';
        }
        line += " F" + std::to_string(k.functionKey) + " " + fieldText(label) + " ";
    }
    int room = std::max(r.w - 4, 0);
    screenPut(r.y + r.h - 1, r.x + 2, line.substr(0, static_cast<size_t>(room)), face);
}

bool dialogKey(HWND dialog, const InputEvent& event) {
    DialogView* view = viewOf(dialog);
    if (view == nullptr) {
        return false;
    }
    if (GetParent(view->focus) != dialog) {
        view->focus = nullptr;
    }
    Kind focusKind = kindOf(view->focus).kind;
    switch (event.key) {
    case '\t':
    case KEY_DOWN:
        moveFocus(dialog, *view, 1);
        return false;
    case KEY_BTAB:
    case KEY_UP:
        moveFocus(dialog, *view, -1);
        return false;
    case '\r':
    case '\n':
    case KEY_ENTER:
        return postCommand(dialog, focusKind == Kind::Button ? controlId(view->focus)
                                                             : defaultCommand(dialog));
    case kEscape:
        if (GetDlgItem(dialog, IDCANCEL) == nullptr) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        }
        return postCommand(dialog, IDCANCEL);
    case ' ':
        if (focusKind == Kind::Button) {
            return postCommand(dialog, controlId(view->focus));
        }
        break;
    default:
        break;
    }
    for (const DialogKey& k : ui.dialogKeys[dialog]) {
        if (event.key == KEY_F(k.functionKey)) {
            return postCommand(dialog, k.command);
        }
    }
    if (focusKind == Kind::Edit && event.key < kAltKey) {
        editKey(view->focus, *view, event.key);
    }
    return false;
}

bool dialogClick(HWND dialog, int x, int y) {
    DialogView* view = viewOf(dialog);
    if (!IsWindow(dialog) || view == nullptr) {
        return false;
    }
    CellRect r = dialogRect(dialog);
    if (y == r.y) {
        if ((windowStyle(dialog) & WS_SYSMENU) != 0 && x >= r.x + r.w - 4 && x < r.x + r.w - 1) {
            PostMessageA(dialog, WM_CLOSE, 0, 0);
            return true;
        }
        return false;
    }
    for (HWND c : controlsOf(dialog)) {
        if (!IsWindowVisible(c) || !contains(controlRect(r, c), x, y)) {
            continue;
        }
        Kind kind = kindOf(c).kind;
        if (kind == Kind::Button) {
            focusControl(*view, c);
            return postCommand(dialog, controlId(c));
        }
        if (kind == Kind::Edit) {
            focusControl(*view, c);
            view->cursor =
                std::min(x - controlRect(r, c).x, static_cast<int>(windowText(c).size()));
            return false;
        }
    }
    return false;
}

} // namespace platform::term

using namespace platform::term;

void platformSetDialogKey(HWND dialog, int functionKey, WORD command,
                          size_t (*label)(char* out, size_t size, void* context), void* context) {
    if (!ui.chosen || functionKey < 1 || functionKey > 12 || !IsWindow(dialog)) {
        return;
    }
    std::vector<DialogKey>& keys = ui.dialogKeys[dialog];
    keys.erase(
        std::remove_if(keys.begin(), keys.end(),
                       [functionKey](const DialogKey& k) { return k.functionKey == functionKey; }),
        keys.end());
    keys.push_back(DialogKey{functionKey, command, label, context});
    markDirty();
}
