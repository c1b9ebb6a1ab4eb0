// Geometry of the terminal window in character cells.
#include "frontend/terminal/terminal_layout.h"

#include "platform/stream/escape.h"

#include <algorithm>
#include <cstring>

namespace platform::term {

std::string titleText(const char* text) {
    if (text == nullptr) {
        return std::string();
    }
    std::string out(escapedSize(std::strlen(text)), '\0');
    out.resize(escapeText(text, out.data(), out.size()));
    return out;
}

std::string cellText(const char* text) {
    std::string out = titleText(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            c = '?';
        }
    }
    return out;
}

std::string fieldText(const char* text) {
    std::string out;
    if (text == nullptr) {
        return out;
    }
    for (const char* p = text; *p != '\0'; ++p) {
        auto c = static_cast<unsigned char>(*p);
        out.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?');
    }
    return out;
}

bool clipSpan(int x, int length, int limit, int* skip, int* visible) {
    int start = std::max(x, 0);
    int end = std::min(x + std::max(length, 0), limit);
    *skip = start - x;
    *visible = end > start ? end - start : 0;
    return *visible > 0;
}

std::vector<std::string> wrapText(const std::string& text, int width, int maxLines) {
    std::vector<std::string> lines;
    if (width <= 0) {
        return lines;
    }
    size_t pos = 0;
    size_t n = text.size();
    while (pos < n && (maxLines <= 0 || static_cast<int>(lines.size()) < maxLines)) {
        while (pos < n && text[pos] == ' ') {
            ++pos; // blanks at a break
        }
        if (pos >= n) {
            break;
        }
        size_t w = static_cast<size_t>(width);
        if (n - pos <= w) {
            lines.push_back(text.substr(pos));
            break;
        }
        // The last blank within the width (or just after it) ends the line.
        size_t cut = std::string::npos;
        for (size_t i = pos + w; i > pos; --i) {
            if (text[i] == ' ') {
                cut = i;
                break;
            }
        }
        if (cut == std::string::npos) {
            lines.push_back(text.substr(pos, w)); // one long word
            pos += w;
            continue;
        }
        size_t end = cut;
        while (end > pos && text[end - 1] == ' ') {
            --end;
        }
        lines.push_back(text.substr(pos, end - pos));
        pos = cut;
    }
    return lines;
}

namespace {

// A menu bar caption with one blank on each side. Built by appending: GCC 12 at -O3 warns
// falsely (-Wrestrict) about "literal + string".
std::string menuLabel(const char* caption) {
    std::string label(1, ' ');
    label += cellText(caption);
    label += ' ';
    return label;
}

} // namespace

std::vector<MenuSlot> layoutMenuBar(const MenuTemplate* menu, int barWidth) {
    std::vector<MenuSlot> slots;
    if (menu == nullptr) {
        return slots;
    }
    int left = 0;
    for (int i = 0; i < menu->itemCount; ++i) {
        const MenuItemTemplate& item = menu->items[i];
        if (item.rightJustified) {
            continue;
        }
        std::string label = menuLabel(item.caption);
        int width = static_cast<int>(label.size());
        slots.push_back(MenuSlot{item.id, left, width, label});
        left += width + 1;
    }
    int rightWidth = 0;
    int rightCount = 0;
    for (int i = 0; i < menu->itemCount; ++i) {
        if (menu->items[i].rightJustified) {
            rightWidth += static_cast<int>(cellText(menu->items[i].caption).size()) + 2;
            ++rightCount;
        }
    }
    if (rightCount == 0) {
        return slots;
    }
    rightWidth += rightCount - 1;
    int x = std::max(barWidth - rightWidth, left);
    for (int i = 0; i < menu->itemCount; ++i) {
        const MenuItemTemplate& item = menu->items[i];
        if (!item.rightJustified) {
            continue;
        }
        std::string label = menuLabel(item.caption);
        int width = static_cast<int>(label.size());
        slots.push_back(MenuSlot{item.id, x, width, label});
        x += width + 1;
    }
    return slots;
}

int mainWindowWidth(const MenuTemplate* menu) {
    int needed = 0;
    if (menu != nullptr) {
        for (int i = 0; i < menu->itemCount; ++i) {
            needed += static_cast<int>(cellText(menu->items[i].caption).size()) + 2;
        }
        needed += std::max(menu->itemCount - 1, 0);
    }
    return std::max(kMainWindowColumns, needed + 2);
}

CellRect dialogUnitsToCells(int x, int y, int w, int h) {
    CellRect r;
    r.x = (x + 2) / 4;
    r.y = (y + 4) / 8;
    r.w = std::max((w + 2) / 4, 1);
    r.h = std::max((h + 4) / 8, 1);
    return r;
}

CellRect placeOnScreen(CellRect r, int cols, int rows) {
    if (r.x + r.w > cols) {
        r.x = cols - r.w;
    }
    if (r.y + r.h > rows) {
        r.y = rows - r.h;
    }
    r.x = std::max(r.x, 0);
    r.y = std::max(r.y, 0);
    return r;
}

void occludeSpans(std::vector<ColourSpan>& spans, const CellRect& cover) {
    std::vector<ColourSpan> kept;
    for (const ColourSpan& s : spans) {
        int end = s.x + static_cast<int>(s.text.size());
        int coverEnd = cover.x + cover.w;
        bool rowCovered = s.y >= cover.y && s.y < cover.y + cover.h;
        if (!rowCovered || end <= cover.x || s.x >= coverEnd) {
            kept.push_back(s);
            continue;
        }
        if (s.x < cover.x) {
            ColourSpan left = s;
            left.text = s.text.substr(0, static_cast<size_t>(cover.x - s.x));
            kept.push_back(left);
        }
        if (end > coverEnd) {
            ColourSpan right = s;
            right.x = coverEnd;
            right.text = s.text.substr(static_cast<size_t>(coverEnd - s.x));
            kept.push_back(right);
        }
    }
    spans.swap(kept);
}

std::vector<std::string> messageBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
        return {"[ Yes ]", "[ No ]"};
    case MB_OKCANCEL:
        return {"[ OK ]", "[ Cancel ]"};
    default:
        return {"[ OK ]"};
    }
}

MessageBoxLayout layoutMessageBox(const std::string& caption, const std::string& text, int cols,
                                  int rows, UINT type) {
    constexpr int kWidest = 56;
    constexpr int kNarrowest = 10;
    constexpr int kGap = 2; // between two buttons
    std::vector<std::string> buttons = messageBoxButtons(type);
    int buttonsWidth = 0;
    for (const std::string& b : buttons) {
        buttonsWidth += static_cast<int>(b.size());
    }
    buttonsWidth += kGap * (static_cast<int>(buttons.size()) - 1);
    int inner = static_cast<int>(text.size());
    inner = std::max(inner, static_cast<int>(caption.size()) + 4);
    inner = std::max(inner, buttonsWidth);
    inner = std::clamp(inner, kNarrowest, kWidest);
    inner = std::max(std::min(inner, cols - 4), 1);

    MessageBoxLayout layout;
    layout.lines = wrapText(text, inner, 0);
    if (layout.lines.empty()) {
        layout.lines.push_back("");
    }
    int height = static_cast<int>(layout.lines.size()) + 5;
    int width = inner + 4;
    CellRect r{(cols - width) / 2, (rows - height) / 2, width, height};
    layout.rect = placeOnScreen(r, cols, rows);
    int x = layout.rect.x + (width - buttonsWidth) / 2;
    int y = layout.rect.y + height - 2;
    layout.okButton = CellRect{x, y, static_cast<int>(buttons[0].size()), 1};
    if (buttons.size() > 1) {
        layout.secondButton =
            CellRect{x + layout.okButton.w + kGap, y, static_cast<int>(buttons[1].size()), 1};
    }
    return layout;
}

PanelLayout layoutPanel(int count, int selected, int top, int y, int cols, int rows) {
    PanelLayout layout;
    int room = std::max(rows - y, 0);
    int lines = std::max(count, 1);
    int visible = std::clamp(lines, 0, std::max(room - 2, 0));
    if (room >= 3) {
        visible = std::max(visible, 1);
    } else {
        visible = 0;
    }
    layout.rect = CellRect{0, y, std::max(cols, 0), visible > 0 ? visible + 2 : room};
    layout.visible = visible;
    if (visible == 0 || count <= 0) {
        layout.top = 0;
        return layout;
    }
    selected = std::clamp(selected, 0, count - 1);
    top = std::clamp(top, 0, std::max(count - visible, 0));
    if (selected < top) {
        top = selected;
    } else if (selected >= top + visible) {
        top = selected - visible + 1;
    }
    layout.top = top;
    return layout;
}

} // namespace platform::term
