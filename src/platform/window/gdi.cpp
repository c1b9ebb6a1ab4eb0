// Drawing contexts and solid brushes: enough for colour requests. Contexts record their
// text and background colours; brushes record their colour until deleted.
#include "platform/window/dialog.h"
#include "platform/window/window.h"
#include "platform/window/window_table.h"

#include <unordered_set>
#include <utility>

namespace {

constexpr COLORREF kInvalidColour = 0xFFFFFFFFu;

struct Brush {
    COLORREF colour;
    bool stock;
};

struct Context {
    HWND hwnd;
    COLORREF text;
    COLORREF background;
};

std::unordered_set<Brush*> brushes;    // created and not yet deleted
std::unordered_set<Context*> contexts; // handed out and not yet released

Brush* stockGrayBrush() {
    static Brush gray{RGB(128, 128, 128), true};
    return &gray;
}

Brush* brushOf(HGDIOBJ object) {
    auto* b = static_cast<Brush*>(object);
    if (b == stockGrayBrush() || brushes.count(b) != 0) {
        return b;
    }
    return nullptr;
}

Context* contextOf(HDC hdc) {
    auto* c = reinterpret_cast<Context*>(hdc);
    return contexts.count(c) != 0 ? c : nullptr;
}

} // namespace

namespace platform {

void resetGdi() {
    for (Brush* b : brushes) {
        delete b;
    }
    brushes.clear();
    for (Context* c : contexts) {
        delete c;
    }
    contexts.clear();
}

} // namespace platform

HGDIOBJ GetStockObject(int object) {
    return object == GRAY_BRUSH ? static_cast<HGDIOBJ>(stockGrayBrush()) : nullptr;
}

HDC GetDC(HWND hwnd) {
    auto* c = new Context{hwnd, RGB(0, 0, 0), RGB(255, 255, 255)};
    contexts.insert(c);
    return reinterpret_cast<HDC>(c);
}

int ReleaseDC(HWND, HDC hdc) {
    Context* c = contextOf(hdc);
    if (c == nullptr) {
        return 0;
    }
    contexts.erase(c);
    delete c;
    return 1;
}

COLORREF SetTextColor(HDC hdc, COLORREF colour) {
    Context* c = contextOf(hdc);
    return c != nullptr ? std::exchange(c->text, colour) : kInvalidColour;
}

COLORREF SetBkColor(HDC hdc, COLORREF colour) {
    Context* c = contextOf(hdc);
    return c != nullptr ? std::exchange(c->background, colour) : kInvalidColour;
}

COLORREF GetTextColor(HDC hdc) {
    Context* c = contextOf(hdc);
    return c != nullptr ? c->text : kInvalidColour;
}

COLORREF GetBkColor(HDC hdc) {
    Context* c = contextOf(hdc);
    return c != nullptr ? c->background : kInvalidColour;
}

HBRUSH CreateSolidBrush(COLORREF colour) {
    auto* b = new Brush{colour, false};
    brushes.insert(b);
    return reinterpret_cast<HBRUSH>(b);
}

BOOL DeleteObject(HGDIOBJ object) {
    Brush* b = brushOf(object);
    if (b == nullptr) {
        return FALSE;
    }
    if (b->stock) {
        return TRUE; // stock objects are never deleted
    }
    brushes.erase(b);
    delete b;
    return TRUE;
}

COLORREF platformBrushColour(HBRUSH brush) {
    Brush* b = brushOf(brush);
    return b != nullptr ? b->colour : 0;
}

int platformLiveBrushes() {
    return static_cast<int>(brushes.size());
}
