// The panel below the main window (platformSetPanel). Enter, Del, c and d ask for the
// operator's action on the selected line, which runs when the message loop is next idle.
#include "frontend/terminal/terminal.h"
#include "frontend/terminal/terminal_window.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace platform::term {
namespace {

constexpr size_t kLineSize = 512;

uintptr_t identityOf(int index) {
    const PanelView& p = ui.panel;
    return p.identity != nullptr ? p.identity(index, p.panel.context) : 0;
}

// The number of lines now, with the selection moved to where its line went (it stays at
// its place, within the lines, when its line is gone).
int lineCount() {
    PanelView& p = ui.panel;
    if (!p.shown || p.panel.count == nullptr) {
        return 0;
    }
    int count = std::max(p.panel.count(p.panel.context), 0);
    p.selected = count > 0 ? std::clamp(p.selected, 0, count - 1) : 0;
    if (p.selectedIdentity != 0 && identityOf(p.selected) != p.selectedIdentity) {
        for (int i = 0; i < count; ++i) {
            if (identityOf(i) == p.selectedIdentity) {
                p.selected = i;
                break;
            }
        }
    }
    p.selectedIdentity = count > 0 ? identityOf(p.selected) : 0;
    return count;
}

// True while the selection rests on a line that takes no action and the panel says so.
bool restsOnNoAction(int count) {
    const PanelView& p = ui.panel;
    return count > 0 && p.identity != nullptr && p.noActionTitle != nullptr &&
           p.selectedIdentity == 0;
}

// The panel's scroll position follows the layout (selection kept in view).
PanelLayout layoutNow(int count) {
    PanelLayout layout = layoutPanel(count, ui.panel.selected, ui.panel.top, mainWindowRect().h,
                                     screenCols(), screenRows());
    ui.panel.top = layout.top;
    return layout;
}

// Selects a line, kept within the lines; false: nothing for the message loop.
bool select(int index, int count) {
    ui.panel.selected = count > 0 ? std::clamp(index, 0, count - 1) : 0;
    ui.panel.selectedIdentity = count > 0 ? identityOf(ui.panel.selected) : 0;
    return false;
}

bool ask(int key, int count) {
    if (count <= 0 || ui.panel.act == nullptr || restsOnNoAction(count)) {
        return false; // the title says that this line takes no action
    }
    ui.panel.pendingIndex = std::clamp(ui.panel.selected, 0, count - 1);
    ui.panel.pendingKey = key;
    return true;
}

} // namespace

bool panelShown() {
    return ui.panel.shown && screenStarted();
}

PanelLayout panelLayout() {
    return layoutNow(lineCount());
}

void drawPanel(bool active) {
    int count = lineCount();
    PanelLayout layout = layoutNow(count);
    const CellRect& r = layout.rect;
    if (r.h <= 0 || r.w <= 0) {
        return;
    }
    Paint face = facePaint();
    const char* titleText =
        active && restsOnNoAction(count) ? ui.panel.noActionTitle : ui.panel.panel.title;
    std::string title = titleText != nullptr ? fieldText(titleText) : "";
    if (layout.visible > 0 && count > layout.visible) {
        // Which lines show, when not all fit (formatted in place: GCC 12 -O3 -Wrestrict).
        char shown[48];
        std::snprintf(shown, sizeof shown, " %d-%d/%d", layout.top + 1, layout.top + layout.visible,
                      count);
        title += shown;
    }
    screenWindow(r, title, r.w - 2, false, active, face, face);
    int width = std::max(r.w - 2, 0);
    for (int i = 0; i < layout.visible && layout.top + i < count; ++i) {
        int index = layout.top + i;
        char line[kLineSize] = "";
        if (ui.panel.panel.line != nullptr) {
            size_t n = ui.panel.panel.line(index, line, sizeof line, ui.panel.panel.context);
            line[std::min(n, sizeof line - 1)] = '\0';
        }
        // Nothing but printable ASCII reaches the screen.
        std::string text = fieldText(line).substr(0, static_cast<size_t>(width));
        bool selected = active && index == ui.panel.selected;
        if (selected) {
            text.resize(static_cast<size_t>(width), ' ');
        }
        screenPut(r.y + 1 + i, r.x + 1, text, selected ? captionPaint(true) : face);
    }
}

bool panelKey(const InputEvent& event) {
    int count = lineCount();
    int page = std::max(layoutNow(count).visible, 1);
    int key = event.key;
    int selected = ui.panel.selected;
    switch (key) {
    case KEY_UP:
        return select(selected - 1, count);
    case KEY_DOWN:
        return select(selected + 1, count);
    case KEY_PPAGE:
        return select(selected - page, count);
    case KEY_NPAGE:
        return select(selected + page, count);
    case KEY_HOME:
    case KEY_FIND: // Home on terminals that send it as "find"
        return select(0, count);
    case KEY_END:
    case KEY_SELECT: // End on terminals that send it as "select"
        return select(count - 1, count);
    case kEscape:
        ui.active = Active::Main;
        return false;
    case '\r':
    case '\n':
    case KEY_ENTER:
        return ask(PLATFORM_PANEL_ENTER, count);
    case KEY_DC:
    case 127:
        return ask(PLATFORM_PANEL_DELETE, count);
    default:
        break;
    }
    if (key == 'c' || key == 'C' || key == 'd' || key == 'D') {
        return ask(std::tolower(key), count);
    }
    return false;
}

bool panelClick(int x, int y) {
    int count = lineCount();
    PanelLayout layout = layoutNow(count);
    ui.active = Active::Panel;
    int row = y - layout.rect.y - 1;
    if (contains(layout.rect, x, y) && row >= 0 && row < layout.visible &&
        layout.top + row < count) {
        select(layout.top + row, count);
    }
    return false;
}

void runPendingPanelAction() {
    PanelView& p = ui.panel;
    int key = p.pendingKey;
    p.pendingKey = 0; // taken before the action runs: it may run a message loop
    if (key != 0 && p.act != nullptr) {
        p.act(p.pendingIndex, key, p.actContext);
    }
}

} // namespace platform::term

using namespace platform::term;

void platformSetPanel(const PlatformPanel* panel) {
    PanelView& p = ui.panel;
    p.shown = panel != nullptr;
    p.panel = panel != nullptr ? *panel : PlatformPanel{nullptr, nullptr, nullptr};
    p.selected = 0;
    p.selectedIdentity = 0;
    p.identity = nullptr;
    p.noActionTitle = nullptr;
    p.top = 0;
    if (!p.shown && ui.active == Active::Panel) {
        ui.active = Active::Dialog;
    }
    markDirty();
}

void platformSetPanelIdentity(uintptr_t (*identity)(int index, void* context),
                              const char* noActionTitle) {
    PanelView& p = ui.panel;
    p.identity = identity;
    p.noActionTitle = noActionTitle;
    p.selectedIdentity = 0;
    markDirty();
}

void platformPanelChanged() {
    markDirty();
}

void platformSetPanelAction(void (*act)(int index, int key, void* context), void* context) {
    PanelView& p = ui.panel;
    p.act = act;
    p.actContext = context;
    p.pendingKey = 0;
}
