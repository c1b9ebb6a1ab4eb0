// Message boxes in the terminal: a modal box in the middle of the screen with its caption,
// its text wrapped to the box and its buttons (OK; Yes and No; OK and Cancel). It runs its
// own message loop, so the server goes on serving while the box waits for the operator.
// Enter or Space presses the focused button (the first one at the start); Left, Right and
// Tab move between two buttons; Escape answers No or Cancel (OK in a box with OK alone);
// Y, N and O answer as their buttons do; a click on a button presses it.
#include "frontend/terminal/terminal_curses.h"
#include "frontend/terminal/terminal_screen.h"
#include "frontend/terminal/terminal_state.h"
#include "platform/loop/loop.h"

#include <algorithm>

namespace platform::term {
namespace {

MessageBoxLayout layoutOf(const BoxView* box) {
    return layoutMessageBox(box->caption, box->text, screenCols(), screenRows(), box->type);
}

bool twoButtons(const BoxView* box) {
    return messageBoxButtons(box->type).size() > 1;
}

// The answer of button 0 or 1.
int answerOf(const BoxView* box, int button) {
    switch (box->type & MB_TYPEMASK) {
    case MB_YESNO:
        return button == 0 ? IDYES : IDNO;
    case MB_OKCANCEL:
        return button == 0 ? IDOK : IDCANCEL;
    default:
        return IDOK;
    }
}

bool answer(BoxView* box, int button) {
    box->answer = answerOf(box, button);
    box->done = true;
    return true;
}

} // namespace

int runMessageBox(const char* text, const char* caption, UINT type) {
    Terminal& t = terminal();
    BoxView box;
    box.caption = cellText(caption);
    box.text = cellText(text);
    box.type = type;
    t.boxLog.push_back(box.caption.empty() ? box.text : box.caption + ": " + box.text);
    if (t.lost) {
        return answerOf(&box, twoButtons(&box) ? 1 : 0); // nobody can answer it
    }
    t.menuActive = false;
    t.boxes.push_back(&box);
    markDirty();
    platform::runModalLoop([&box, &t] { return box.done || t.lost; });
    t.boxes.erase(std::remove(t.boxes.begin(), t.boxes.end(), &box), t.boxes.end());
    markDirty();
    if (!box.done) {
        return answerOf(&box, twoButtons(&box) ? 1 : 0);
    }
    return box.answer;
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
    std::vector<std::string> labels = messageBoxButtons(box->type);
    screenPut(layout.okButton.y, layout.okButton.x, labels[0], buttonPaint(top && box->focus == 0));
    if (labels.size() > 1) {
        screenPut(layout.secondButton.y, layout.secondButton.x, labels[1],
                  buttonPaint(top && box->focus == 1));
    }
}

bool messageBoxKey(BoxView* box, const InputEvent& event) {
    bool two = twoButtons(box);
    switch (event.key) {
    case '\r':
    case '\n':
    case KEY_ENTER:
    case ' ':
        return answer(box, box->focus);
    case kEscape:
        return answer(box, two ? 1 : 0);
    case KEY_LEFT:
    case KEY_RIGHT:
    case '\t':
    case KEY_BTAB:
        box->focus = two ? 1 - box->focus : 0;
        return false;
    case 'o':
    case 'O':
        return (box->type & MB_TYPEMASK) != MB_YESNO && answer(box, 0);
    case 'y':
    case 'Y':
        return (box->type & MB_TYPEMASK) == MB_YESNO && answer(box, 0);
    case 'n':
    case 'N':
        return (box->type & MB_TYPEMASK) == MB_YESNO && answer(box, 1);
    default:
        return false;
    }
}

bool messageBoxClick(BoxView* box, int x, int y) {
    MessageBoxLayout layout = layoutOf(box);
    if (contains(layout.okButton, x, y)) {
        return answer(box, 0);
    }
    return layout.secondButton.w > 0 && contains(layout.secondButton, x, y) && answer(box, 1);
}

} // namespace platform::term
