// Geometry of the terminal window in character cells, and the mapping of colours to the
// nearest ones a terminal has.
#include "frontend/terminal/terminal.h"

#include "platform/stream/escape.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
    std::string out = text != nullptr ? text : "";
    for (char& c : out) {
        c = c >= 0x20 && c < 0x7F ? c : '?';
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
    size_t w = static_cast<size_t>(std::max(width, 0));
    size_t pos = 0;
    while (w > 0 && (maxLines <= 0 || static_cast<int>(lines.size()) < maxLines)) {
        pos = text.find_first_not_of(' ', pos); // blanks at a break
        if (pos == std::string::npos) {
            break;
        }
        if (text.size() - pos <= w) {
            lines.push_back(text.substr(pos));
            break;
        }
        // The last blank within the width (or just after it) ends the line.
        size_t cut = text.rfind(' ', pos + w);
        if (cut == std::string::npos || cut < pos) {
            lines.push_back(text.substr(pos, w)); // one long word
            pos += w;
            continue;
        }
        size_t end = text.find_last_not_of(' ', cut) + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = cut;
    }
    return lines;
}

namespace {

int squaredDistance(int r1, int g1, int b1, int r2, int g2, int b2) {
    return (r1 - r2) * (r1 - r2) + (g1 - g2) * (g1 - g2) + (b1 - b2) * (b1 - b2);
}

// The index (0..5) of the cube level nearest to a component; the lower level on a tie.
int nearestCubeLevel(int component, int* level) {
    static const int levels[6] = {0, 95, 135, 175, 215, 255};
    int best = 0;
    for (int i = 1; i < 6; ++i) {
        if (std::abs(component - levels[i]) < std::abs(component - levels[best])) {
            best = i;
        }
    }
    *level = levels[best];
    return best;
}

} // namespace

std::vector<MenuSlot> layoutMenuBar(const MenuTemplate* menu, int barWidth) {
    std::vector<MenuSlot> slots;
    int x = 0;
    int rightWidth = -1; // the right-justified items, one blank apart
    for (bool right : {false, true}) {
        if (menu == nullptr) {
            break;
        }
        if (right) {
            x = std::max(barWidth - rightWidth, x);
        }
        for (int i = 0; i < menu->itemCount; ++i) {
            const MenuItemTemplate& item = menu->items[i];
            std::string label(1, ' '); // appended: GCC 12 -O3 -Wrestrict on "literal + string"
            label += cellText(item.caption);
            label += ' ';
            int width = static_cast<int>(label.size());
            if (item.rightJustified != right) {
                rightWidth += right ? 0 : width + 1;
                continue;
            }
            slots.push_back(MenuSlot{item.id, x, width, label});
            x += width + 1;
        }
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
    return CellRect{(x + 2) / 4, (y + 4) / 8, std::max((w + 2) / 4, 1), std::max((h + 4) / 8, 1)};
}

CellRect placeOnScreen(CellRect r, int cols, int rows) {
    r.x = std::max(std::min(r.x, cols - r.w), 0);
    r.y = std::max(std::min(r.y, rows - r.h), 0);
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
    int buttonsWidth = kGap * (static_cast<int>(buttons.size()) - 1);
    for (const std::string& b : buttons) {
        buttonsWidth += static_cast<int>(b.size());
    }
    int inner = std::max(
        {static_cast<int>(text.size()), static_cast<int>(caption.size()) + 4, buttonsWidth});
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
    int visible = room >= 3 ? std::min(std::max(count, 1), room - 2) : 0;
    layout.rect = CellRect{0, y, std::max(cols, 0), visible > 0 ? visible + 2 : room};
    layout.visible = visible;
    if (visible == 0 || count <= 0) {
        return layout;
    }
    selected = std::clamp(selected, 0, count - 1);
    top = std::clamp(top, 0, std::max(count - visible, 0));
    layout.top = std::clamp(top, selected - visible + 1, selected);
    return layout;
}

bool isTrueColour(const char* colorterm, int terminfoColours, bool rgbFlag) {
    bool named = colorterm != nullptr &&
                 (std::strcmp(colorterm, "truecolor") == 0 || std::strcmp(colorterm, "24bit") == 0);
    return named || rgbFlag || terminfoColours >= 0x1000000;
}

int nearestBasic8(COLORREF colour) {
    static const int basic[8][3] = {{0, 0, 0},   {205, 0, 0},   {0, 205, 0},   {205, 205, 0},
                                    {0, 0, 238}, {205, 0, 205}, {0, 205, 205}, {229, 229, 229}};
    int r = GetRValue(colour);
    int g = GetGValue(colour);
    int b = GetBValue(colour);
    int best = 0;
    int bestDistance = squaredDistance(r, g, b, basic[0][0], basic[0][1], basic[0][2]);
    for (int i = 1; i < 8; ++i) {
        int d = squaredDistance(r, g, b, basic[i][0], basic[i][1], basic[i][2]);
        if (d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

int nearestXterm256(COLORREF colour) {
    int r = GetRValue(colour);
    int g = GetGValue(colour);
    int b = GetBValue(colour);
    int lr = 0;
    int lg = 0;
    int lb = 0;
    int cube = 16 + 36 * nearestCubeLevel(r, &lr) + 6 * nearestCubeLevel(g, &lg) +
               nearestCubeLevel(b, &lb);
    int cubeDistance = squaredDistance(r, g, b, lr, lg, lb);

    int average = (r + g + b) / 3;
    int step = std::clamp((average - 8 + 5) / 10, 0, 23);
    int grey = 8 + 10 * step;
    int greyDistance = squaredDistance(r, g, b, grey, grey, grey);
    return greyDistance < cubeDistance ? 232 + step : cube;
}

std::string trueColourSgr(COLORREF fg, COLORREF bg) {
    char text[64];
    std::snprintf(text, sizeof text, "\x1b[38;2;%d;%d;%d;48;2;%d;%d;%dm", GetRValue(fg),
                  GetGValue(fg), GetBValue(fg), GetRValue(bg), GetGValue(bg), GetBValue(bg));
    return text;
}

} // namespace platform::term
