// Drawing contexts and solid brushes: enough for colour requests. Contexts record their
// text and background colours; brushes record their colour until deleted. Handles are
// numbers never given twice within a run, so a released one is simply not found.
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <unordered_map>
#include <utility>

namespace {

constexpr COLORREF kInvalidColour = 0xFFFFFFFFu;
constexpr uintptr_t kGrayBrush = 0x100; // the stock brush; never deleted

struct Colours {
    COLORREF text;
    COLORREF background;
};

std::unordered_map<uintptr_t, COLORREF> brushes; // created and not yet deleted
std::unordered_map<uintptr_t, Colours> contexts; // handed out and not yet released
uintptr_t nextHandle = kGrayBrush + 1;

uintptr_t keyOf(const void* handle) {
    return reinterpret_cast<uintptr_t>(handle);
}

Colours* contextOf(HDC hdc) {
    auto it = contexts.find(keyOf(hdc));
    return it != contexts.end() ? &it->second : nullptr;
}

} // namespace

namespace platform {

void resetGdi() {
    brushes.clear();
    contexts.clear();
}

} // namespace platform

HGDIOBJ GetStockObject(int object) {
    return object == GRAY_BRUSH ? reinterpret_cast<HGDIOBJ>(kGrayBrush) : nullptr;
}

HDC GetDC(HWND) {
    contexts[nextHandle] = Colours{RGB(0, 0, 0), RGB(255, 255, 255)};
    return reinterpret_cast<HDC>(nextHandle++);
}

int ReleaseDC(HWND, HDC hdc) {
    return contexts.erase(keyOf(hdc)) != 0 ? 1 : 0;
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
    Colours* c = contextOf(hdc);
    return c != nullptr ? std::exchange(c->text, colour) : kInvalidColour;
}

COLORREF SetBkColor(HDC hdc, COLORREF colour) {
    Colours* c = contextOf(hdc);
    return c != nullptr ? std::exchange(c->background, colour) : kInvalidColour;
}

COLORREF GetTextColor(HDC hdc) {
    Colours* c = contextOf(hdc);
    return c != nullptr ? c->text : kInvalidColour;
}

COLORREF GetBkColor(HDC hdc) {
    Colours* c = contextOf(hdc);
    return c != nullptr ? c->background : kInvalidColour;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    brushes[nextHandle] = colour;
    return reinterpret_cast<HBRUSH>(nextHandle++);
}

BOOL DeleteObject(HGDIOBJ object) {
    return keyOf(object) == kGrayBrush || brushes.erase(keyOf(object)) != 0 ? TRUE : FALSE;
}

COLORREF platformBrushColour(HBRUSH brush) {
    if (keyOf(brush) == kGrayBrush) {
        return RGB(128, 128, 128);
    }
    auto it = brushes.find(keyOf(brush));
    return it != brushes.end() ? it->second : 0;
}

int platformLiveBrushes() {
    return static_cast<int>(brushes.size());
}
