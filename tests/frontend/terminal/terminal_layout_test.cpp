// The pure parts of the terminal window: true colour and nearest colours, cell text,
// clipping, wrapping, the menu bar, dialog units, placement, message boxes and the
// true-colour spans that a window on top hides.
#include "frontend/terminal/terminal.h"

#include <cstdlib>
#include <gtest/gtest.h>

using namespace platform::term;

namespace {

TEST(TerminalColour, TrueColourFromTheEnvironmentAndTerminfo) {
    EXPECT_TRUE(isTrueColour("truecolor", 256, false));
    EXPECT_TRUE(isTrueColour("24bit", 8, false));
    EXPECT_TRUE(isTrueColour(nullptr, 256, true));
    EXPECT_TRUE(isTrueColour(nullptr, 0x1000000, false));
    EXPECT_TRUE(isTrueColour("truecolor", 0, false)); // even without a palette
    EXPECT_FALSE(isTrueColour("yes", 256, false));
    EXPECT_FALSE(isTrueColour(nullptr, 0xFFFFFF, false));
    EXPECT_FALSE(isTrueColour("TRUECOLOR", 8, false));
    EXPECT_FALSE(isTrueColour("", 2, false));
}

TEST(TerminalColour, NearestOfThe256Colours) {
    // The about dialog's colours: 195 is as far from 175 as from 215 (the lower wins).
    EXPECT_EQ(nearestXterm256(RGB(195, 255, 140)), 156); // 175, 255, 135
    EXPECT_EQ(nearestXterm256(RGB(80, 70, 180)), 61);    // 95, 95, 175
    EXPECT_EQ(nearestXterm256(RGB(0, 0, 200)), 20);      // 0, 0, 215
    EXPECT_EQ(nearestXterm256(RGB(255, 255, 255)), 231);
    EXPECT_EQ(nearestXterm256(RGB(0, 0, 0)), 16);
    // Grays nearer to the ramp than to the cube.
    EXPECT_EQ(nearestXterm256(RGB(128, 128, 128)), 244); // 128
    EXPECT_EQ(nearestXterm256(RGB(192, 192, 192)), 250); // 188
    EXPECT_EQ(nearestXterm256(RGB(10, 10, 10)), 232);    // 8
    EXPECT_EQ(nearestXterm256(RGB(135, 135, 135)), 102); // exactly the cube's 135: cube
}

TEST(TerminalColour, NearestOfThe8Colours) {
    EXPECT_EQ(nearestBasic8(RGB(195, 255, 140)), 7); // white
    EXPECT_EQ(nearestBasic8(RGB(80, 70, 180)), 4);   // blue
    EXPECT_EQ(nearestBasic8(RGB(0, 0, 200)), 4);
    EXPECT_EQ(nearestBasic8(RGB(200, 10, 10)), 1);
    EXPECT_EQ(nearestBasic8(RGB(20, 20, 20)), 0);
    EXPECT_EQ(nearestBasic8(RGB(0, 180, 190)), 6);
}

TEST(TerminalColour, TrueColourSequence) {
    EXPECT_EQ(trueColourSgr(RGB(195, 255, 140), RGB(80, 70, 180)),
              "\x1b[38;2;195;255;140;48;2;80;70;180m");
}

TEST(TerminalLayout, CellTextIsEscapedAndOneCellPerByte) {
    EXPECT_EQ(cellText(">>G4ABC<< Que=3"), ">>G4ABC<< Que=3");
    // Control bytes, DEL and the backslash as escapes; high bytes one '?' cell each in the
    // window, kept in the terminal's title.
    EXPECT_EQ(cellText("A\x1b]2;X\x07"
                       "B\t\x7f\\\xc3\xa9"),
              "A\\x1B]2;X\\x07B\\x09\\x7F\\\\??");
    EXPECT_EQ(titleText("N\r\n\xc3\xa9\\"), "N\\x0D\\x0A\xc3\xa9\\\\");
    EXPECT_EQ(cellText(nullptr), "");
    // Edit fields show what was typed, unescaped, so the cursor stays on its character.
    EXPECT_EQ(fieldText("A\\B\x1b"), "A\\B?");
}

TEST(TerminalLayout, ClipSpanToTheScreen) {
    int skip = -1;
    int visible = -1;
    EXPECT_TRUE(clipSpan(0, 10, 80, &skip, &visible));
    EXPECT_EQ(skip, 0);
    EXPECT_EQ(visible, 10);
    EXPECT_TRUE(clipSpan(75, 10, 80, &skip, &visible));
    EXPECT_EQ(skip, 0);
    EXPECT_EQ(visible, 5);
    EXPECT_TRUE(clipSpan(-3, 10, 80, &skip, &visible));
    EXPECT_EQ(skip, 3);
    EXPECT_EQ(visible, 7);
    EXPECT_TRUE(clipSpan(-3, 10, 4, &skip, &visible));
    EXPECT_EQ(skip, 3);
    EXPECT_EQ(visible, 4);
    EXPECT_FALSE(clipSpan(80, 5, 80, &skip, &visible));
    EXPECT_FALSE(clipSpan(-10, 10, 80, &skip, &visible));
    EXPECT_FALSE(clipSpan(0, 5, 0, &skip, &visible));
}

TEST(TerminalLayout, WrapAtBlanksKeepingInnerSpacing) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(wrapText("CONFERENCE SERVER 3.68  -  BUILD DATE 5 JUNE 2002", 43, 4),
              (Lines{"CONFERENCE SERVER 3.68  -  BUILD DATE 5", "JUNE 2002"}));
    EXPECT_EQ(wrapText("SERVER NAME (EG *KENT*) - MUST HAVE THE *'s", 23, 3),
              (Lines{"SERVER NAME (EG *KENT*)", "- MUST HAVE THE *'s"}));
    // A word longer than the width is cut; the line limit holds.
    EXPECT_EQ(wrapText("ABCDEFGHIJ KL", 4, 0), (Lines{"ABCD", "EFGH", "IJ", "KL"}));
    EXPECT_EQ(wrapText("one two three four", 5, 2), (Lines{"one", "two"}));
    EXPECT_EQ(wrapText("   ", 5, 0), Lines{});
    EXPECT_EQ(wrapText("text", 0, 0), Lines{});
}

const MenuItemTemplate kItems[] = {{122, "SERV 3.68 (Pse run minimised)", false},
                                   {2003, "EXIT", true}};
const MenuTemplate kMenu = {2000, kItems, 2};

TEST(TerminalLayout, MenuBarPutsExitAtTheRightHandEnd) {
    EXPECT_EQ(mainWindowWidth(&kMenu), 40);
    std::vector<MenuSlot> slots = layoutMenuBar(&kMenu, 38);
    ASSERT_EQ(slots.size(), 2u);
    EXPECT_EQ(slots[0].id, 122);
    EXPECT_EQ(slots[0].x, 0);
    EXPECT_EQ(slots[0].label, " SERV 3.68 (Pse run minimised) ");
    EXPECT_EQ(slots[1].id, 2003);
    EXPECT_EQ(slots[1].x + slots[1].width, 38);
    EXPECT_EQ(slots[1].label, " EXIT ");
    // A longer caption widens the box; the captions are never cut.
    const MenuItemTemplate longItems[] = {{1, "A FIRST CAPTION THAT IS RATHER LONG", false},
                                          {2, "EXIT", true}};
    const MenuTemplate longMenu = {1, longItems, 2};
    EXPECT_EQ(mainWindowWidth(&longMenu), 2 + 37 + 1 + 6);
    // Too narrow a bar: the right-hand item follows the others instead of overlapping.
    slots = layoutMenuBar(&kMenu, 20);
    EXPECT_EQ(slots[1].x, 32);
    EXPECT_EQ(mainWindowWidth(nullptr), 40);
    EXPECT_TRUE(layoutMenuBar(nullptr, 38).empty());
}

TEST(TerminalLayout, DialogUnitsToCells) {
    CellRect about = dialogUnitsToCells(83, 23, 179, 57);
    EXPECT_EQ(about.x, 21);
    EXPECT_EQ(about.y, 3);
    EXPECT_EQ(about.w, 45);
    EXPECT_EQ(about.h, 7);
    CellRect name = dialogUnitsToCells(11, 28, 44, 12); // the server name field
    EXPECT_EQ(name.x, 3);
    EXPECT_EQ(name.y, 4);
    EXPECT_EQ(name.w, 11);
    CellRect tiny = dialogUnitsToCells(0, 0, 1, 1);
    EXPECT_EQ(tiny.w, 1);
    EXPECT_EQ(tiny.h, 1);
}

TEST(TerminalLayout, PlaceOnScreenMovesUpAndLeftButNeverBeyondTheOrigin) {
    CellRect r = placeOnScreen(CellRect{22, 5, 47, 9}, 60, 10);
    EXPECT_EQ(r.x, 13);
    EXPECT_EQ(r.y, 1);
    r = placeOnScreen(CellRect{22, 5, 47, 9}, 20, 4);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.y, 0);
    EXPECT_EQ(r.w, 47);
    r = placeOnScreen(CellRect{3, 2, 10, 5}, 80, 24);
    EXPECT_EQ(r.x, 3);
    EXPECT_EQ(r.y, 2);
}

TEST(TerminalLayout, SpansUnderAWindowOnTopAreCut) {
    std::vector<ColourSpan> spans = {{5, 10, "0123456789", RGB(1, 2, 3), RGB(4, 5, 6), false},
                                     {6, 10, "ABCDEFGHIJ", RGB(1, 2, 3), RGB(4, 5, 6), true}};
    occludeSpans(spans, CellRect{13, 6, 4, 3}); // covers row 6, columns 13..16
    ASSERT_EQ(spans.size(), 3u);
    EXPECT_EQ(spans[0].text, "0123456789");
    EXPECT_EQ(spans[1].x, 10);
    EXPECT_EQ(spans[1].text, "ABC");
    EXPECT_EQ(spans[2].x, 17);
    EXPECT_EQ(spans[2].text, "HIJ");
    EXPECT_TRUE(spans[2].emphasis);
    occludeSpans(spans, CellRect{0, 0, 100, 100});
    EXPECT_TRUE(spans.empty());
}

TEST(TerminalLayout, MessageBoxIsCentredWithItsTextWrapped) {
    MessageBoxLayout box = layoutMessageBox("ERROR", "YOU MUST ENTER A PWD ABOVE", 80, 24);
    EXPECT_EQ(box.rect.w, 26 + 4);
    EXPECT_EQ(box.rect.h, 1 + 5);
    EXPECT_EQ(box.rect.x, 25);
    EXPECT_EQ(box.rect.y, 9);
    ASSERT_EQ(box.lines.size(), 1u);
    EXPECT_EQ(box.okButton.y, box.rect.y + box.rect.h - 2);
    EXPECT_EQ(box.okButton.x, box.rect.x + 12);

    std::string longText(120, 'x');
    longText[50] = ' ';
    box = layoutMessageBox("", longText, 80, 24);
    EXPECT_EQ(box.rect.w, 56 + 4);
    EXPECT_EQ(box.lines.size(), 3u); // 50, then 56, then 13 characters
    // A screen narrower than the box: the box fits in it and starts at its edge.
    box = layoutMessageBox("CAPTION", "SHORT TEXT", 12, 5);
    EXPECT_EQ(box.rect.x, 0);
    EXPECT_EQ(box.rect.y, 0);
    EXPECT_LE(box.rect.w, 12);
}

} // namespace

namespace {

using platform::term::layoutPanel;

TEST(TerminalPanelLayout, FitsBelowTheMainWindowAndKeepsTheSelectionInView) {
    // 30 lines from row 4 of a 60 x 12 screen: title bar, 6 lines, bottom border.
    auto l = layoutPanel(30, 0, 0, 4, 60, 12);
    EXPECT_EQ(l.rect.x, 0);
    EXPECT_EQ(l.rect.y, 4);
    EXPECT_EQ(l.rect.w, 60);
    EXPECT_EQ(l.rect.h, 8);
    EXPECT_EQ(l.visible, 6);
    EXPECT_EQ(l.top, 0);
    // Selecting line 8 scrolls just enough; going back up inside the view keeps it.
    EXPECT_EQ(layoutPanel(30, 7, 0, 4, 60, 12).top, 2);
    EXPECT_EQ(layoutPanel(30, 4, 2, 4, 60, 12).top, 2);
    EXPECT_EQ(layoutPanel(30, 1, 2, 4, 60, 12).top, 1);
    // Never past the last line, even from a stale scroll position or selection.
    EXPECT_EQ(layoutPanel(30, 29, 0, 4, 60, 12).top, 24);
    EXPECT_EQ(layoutPanel(30, 99, 99, 4, 60, 12).top, 24);
    EXPECT_EQ(layoutPanel(3, 2, 20, 4, 60, 12).top, 0);
    // Few lines: as tall as they need; none: one empty row.
    EXPECT_EQ(layoutPanel(3, 0, 0, 4, 60, 12).rect.h, 5);
    EXPECT_EQ(layoutPanel(0, 0, 0, 4, 60, 12).rect.h, 3);
    EXPECT_EQ(layoutPanel(0, 0, 0, 4, 60, 12).visible, 1);
    // A screen with no room for a line below the title bar and border shows no lines.
    EXPECT_EQ(layoutPanel(30, 0, 0, 4, 60, 6).visible, 0);
    EXPECT_EQ(layoutPanel(30, 0, 0, 4, 60, 7).visible, 1);
}

TEST(TerminalPanelLayout, QuestionBoxesHaveTwoButtonsSideBySide) {
    using platform::term::layoutMessageBox;
    using platform::term::messageBoxButtons;
    EXPECT_EQ(messageBoxButtons(MB_OK), (std::vector<std::string>{"[ OK ]"}));
    EXPECT_EQ(messageBoxButtons(MB_YESNO), (std::vector<std::string>{"[ Yes ]", "[ No ]"}));
    EXPECT_EQ(messageBoxButtons(MB_OKCANCEL), (std::vector<std::string>{"[ OK ]", "[ Cancel ]"}));
    auto box = layoutMessageBox("CONFIRM", "d LINE 30?", 80, 24, MB_YESNO);
    EXPECT_EQ(box.okButton.w, 7);
    EXPECT_EQ(box.secondButton.w, 6);
    EXPECT_EQ(box.secondButton.x, box.okButton.x + 7 + 2);
    EXPECT_EQ(box.okButton.y, box.secondButton.y);
    // Centred in the box together.
    int left = box.okButton.x - box.rect.x;
    int right = box.rect.x + box.rect.w - (box.secondButton.x + box.secondButton.w);
    EXPECT_LE(std::abs(left - right), 1);
    EXPECT_EQ(layoutMessageBox("C", "text", 80, 24, MB_OK).secondButton.w, 0);
}

} // namespace
