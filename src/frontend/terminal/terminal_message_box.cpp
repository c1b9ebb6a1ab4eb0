// Message boxes: modal, in the middle of the screen, with their own message loop so the
// server goes on serving. Escape answers No or Cancel (OK alone: OK).
#include "frontend/terminal/terminal.h"
#include "platform/window/frontend.h"

#include <algorithm>

namespace platform::term {
namespace {

MessageBoxLayout layoutOf(const BoxView* box) {
    return layoutMessageBox(box->caption, box->text, screenCols(), screenRows(), box->type);
}

// The answer of button 0 or 1; button 1 of a box with OK alone answers OK too.
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
    return true;
}

} // namespace

int runMessageBox(const char* text, const char* caption, UINT type) {
    BoxView box;
    box.caption = cellText(caption);
    box.text = cellText(text);
    box.type = type;
    ui.boxLog.push_back(box.caption.empty() ? box.text : box.caption + ": " + box.text);
    if (ui.lost) {
        return answerOf(&box, 1); // nobody can answer it: No, Cancel or OK
    }
    ui.menuActive = false;
    ui.boxes.push_back(&box);
    markDirty();
    platform::runModalLoop([&box] { return box.answer != 0 || ui.lost; });
    ui.boxes.erase(std::remove(ui.boxes.begin(), ui.boxes.end(), &box), ui.boxes.end());
    markDirty();
    return box.answer != 0 ? box.answer : answerOf(&box, 1);
}

void drawMessageBox(BoxView* box) {
    MessageBoxLayout layout = layoutOf(box);
    const CellRect& r = layout.rect;
    bool top = !ui.boxes.empty() && ui.boxes.back() == box;
    Paint face = facePaint();
    screenWindow(r, box->caption, r.w - 2, false, top, face, face);
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
    switch (event.key) {
    case '\r':
    case '\n':
    case KEY_ENTER:
    case ' ':
        return answer(box, box->focus);
    case kEscape:
        return answer(box, 1);
    case KEY_LEFT:
    case KEY_RIGHT:
    case '\t':
    case KEY_BTAB:
        box->focus = messageBoxButtons(box->type).size() > 1 ? 1 - box->focus : 0;
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
