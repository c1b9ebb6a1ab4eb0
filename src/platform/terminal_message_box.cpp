// Message boxes in the terminal: a modal box in the middle of the screen with its caption,
// its text wrapped to the box and an OK button. It runs its own message loop, so the server
// goes on serving while the box waits for the operator. Enter, Space, Escape, O or a click
// on OK answer it (every box of this program has only OK).
#include "platform/internal.h"
#include "platform/terminal_curses.h"
#include "platform/terminal_screen.h"
#include "platform/terminal_state.h"

#include <algorithm>

namespace platform::term {
namespace {

MessageBoxLayout layoutOf(const BoxView* box) {
    return layoutMessageBox(box->caption, box->text, screenCols(), screenRows());
}

bool answer(BoxView* box) {
    box->done = true;
    return true;
}

} // namespace

int runMessageBox(const char* text, const char* caption) {
    Terminal& t = terminal();
    BoxView box;
    box.caption = cellText(caption);
    box.text = cellText(text);
    t.boxLog.push_back(box.caption.empty() ? box.text : box.caption + ": " + box.text);
    if (t.lost) {
        return IDOK; // nobody can answer it
    }
    t.menuActive = false;
    t.boxes.push_back(&box);
    markDirty();
    platform::runModalLoop([&box, &t] { return box.done || t.lost; });
    t.boxes.erase(std::remove(t.boxes.begin(), t.boxes.end(), &box), t.boxes.end());
    markDirty();
    return IDOK;
}

void drawMessageBox(BoxView* box) {
    MessageBoxLayout layout = layoutOf(box);
    const CellRect& r = layout.rect;
    bool top = !terminal().boxes.empty() && terminal().boxes.back() == box;
    screenCover(r);
    Paint face = facePaint();
    screenFill(r, face);
    Paint caption = captionPaint(top);
    screenFill(CellRect{r.x, r.y, r.w, 1}, caption);
    std::string title = box->caption.substr(0, static_cast<size_t>(std::max(r.w - 2, 0)));
    screenPut(r.y, r.x + 1, title, caption);
    screenFrame(r, face);
    for (size_t i = 0; i < layout.lines.size(); ++i) {
        screenPut(r.y + 2 + static_cast<int>(i), r.x + 2, layout.lines[i], face);
    }
    screenPut(layout.okButton.y, layout.okButton.x, "[ OK ]", buttonPaint(top));
}

bool messageBoxKey(BoxView* box, const InputEvent& event) {
    switch (event.key) {
    case '\r':
    case '\n':
    case KEY_ENTER:
    case ' ':
    case kEscape:
    case 'o':
    case 'O':
        return answer(box);
    default:
        return false;
    }
}

bool messageBoxClick(BoxView* box, int x, int y) {
    return contains(layoutOf(box).okButton, x, y) && answer(box);
}

} // namespace platform::term
