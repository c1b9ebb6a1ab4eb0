// The screen on ncurses (doupdate sends only what changed). True colour goes around ncurses:
// after each update the exact-colour spans are written again with their own sequences.
#include "frontend/terminal/terminal.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <optional>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include <term.h> // last: its capability macros have short names

namespace platform::term {
namespace {

struct ScreenState {
    bool started = false;
    bool stopped = false;
    bool trueColour = false;
    bool colours = false;
    std::map<std::pair<int, int>, short> pairs;
    short nextPair = 1;
    std::vector<ColourSpan> spans;
    int cursorY = -1;
    int cursorX = -1;
    std::string titleStart;
    std::string titleEnd;
    std::optional<std::string> lastTitle; // the title sent last
};

// Never destroyed: the exit handler restores the terminal after static objects are gone.
ScreenState& scr = *new ScreenState;

bool capabilityPresent(const char* value) {
    return value != nullptr && value != reinterpret_cast<const char*>(-1);
}

// Writes the whole text to the terminal; gives up on an error (a terminal that is gone).
void writeAll(const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(STDOUT_FILENO, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// The terminal colour nearest to an RGB value (a terminal with colours).
int colourIndex(COLORREF colour) {
    return COLORS >= 256 && COLORS < 0x10000 ? nearestXterm256(colour) : nearestBasic8(colour);
}

// The colour pair of a foreground and background, made when first needed; 0 (the
// terminal's own colours) when the terminal has no pair left.
short pairFor(int fg, int bg) {
    auto key = std::make_pair(fg, bg);
    auto it = scr.pairs.find(key);
    if (it != scr.pairs.end()) {
        return it->second;
    }
    if (scr.nextPair >= COLOR_PAIRS || scr.nextPair >= 0x7FFF) {
        return 0;
    }
    short pair = scr.nextPair++;
    init_pair(pair, static_cast<short>(fg), static_cast<short>(bg));
    scr.pairs[key] = pair;
    return pair;
}

attr_t attributesOf(const Paint& paint) {
    attr_t a = (paint.bold ? A_BOLD : A_NORMAL) | (paint.underline ? A_UNDERLINE : A_NORMAL);
    if (scr.colours) {
        a |= static_cast<attr_t>(COLOR_PAIR(pairFor(colourIndex(paint.fg), colourIndex(paint.bg))));
    } else if (paint.reverseInMono) {
        a |= A_REVERSE;
    }
    return a;
}

void putCell(int y, int x, chtype c, attr_t a) {
    if (y >= 0 && y < LINES && x >= 0 && x < COLS) {
        mvaddch(y, x, c | a);
    }
}

std::string cursorTo(int y, int x) {
    char text[32];
    std::snprintf(text, sizeof text, "\x1b[%d;%dH", y + 1, x + 1);
    return text;
}

} // namespace

bool screenUsable(std::string* why) {
    if (isatty(STDOUT_FILENO) == 0 || isatty(STDIN_FILENO) == 0) {
        *why = "standard input and output are not both a terminal";
        return false;
    }
    const char* name = std::getenv("TERM");
    if (name == nullptr || name[0] == '\0') {
        *why = "TERM is not set";
        return false;
    }
    int status = 0;
    TERMINAL* previous = cur_term;
    if (setupterm(name, STDOUT_FILENO, &status) != OK) {
        *why = status == -1 ? "no terminal description database was found"
                            : "unknown terminal type \"" + cellText(name) + "\"";
        return false;
    }
    bool canMove = capabilityPresent(tigetstr(const_cast<char*>("cup")));
    bool generic = tigetflag(const_cast<char*>("gn")) > 0;
    bool hardcopy = tigetflag(const_cast<char*>("hc")) > 0;
    TERMINAL* checked = cur_term;
    set_curterm(previous);
    del_curterm(checked);
    if (!canMove || generic || hardcopy) {
        *why = "terminal type \"" + cellText(name) + "\" cannot place text on the screen";
        return false;
    }
    return true;
}

Paint facePaint() {
    return Paint{RGB(0, 0, 0), RGB(192, 192, 192), false, false, false, false};
}

Paint captionPaint(bool active) {
    return active ? Paint{RGB(255, 255, 255), RGB(0, 0, 128), false, true, false, true}
                  : Paint{RGB(0, 0, 0), RGB(0, 128, 128), false, false, false, false};
}

Paint fieldPaint() {
    return Paint{RGB(0, 0, 0), RGB(255, 255, 255), false, false, true, false};
}

Paint buttonPaint(bool focused) {
    return Paint{RGB(0, 0, 0), RGB(192, 192, 192), false, focused, focused, false};
}

bool screenStart(std::string* why) {
    if (scr.started) {
        return true;
    }
    SCREEN* screen = newterm(std::getenv("TERM"), stdout, stdin);
    if (screen == nullptr) {
        *why = "the terminal cannot be set up";
        return false;
    }
    set_term(screen);
    scr.started = true;
    // Raw: Ctrl-C is a key, so that it asks before the conference closes, as EXIT does (a
    // SIGINT from elsewhere still closes at once).
    raw();
    noecho();
    nonl();
    intrflush(stdscr, FALSE);
    keypad(stdscr, TRUE);
    // Home and End as VT220 and rxvt send them (tmux does, whatever TERM says), so that
    // they are keys and not an Escape followed by text.
    define_key("\x1b[1~", KEY_HOME);
    define_key("\x1b[4~", KEY_END);
    define_key("\x1b[7~", KEY_HOME);
    define_key("\x1b[8~", KEY_END);
    nodelay(stdscr, TRUE);
    set_escdelay(50);
    curs_set(0);
    scr.colours = has_colors() && start_color() == OK;
    if (scr.colours) {
        use_default_colors();
    }
    mousemask(BUTTON1_PRESSED | BUTTON1_RELEASED, nullptr);
    mouseinterval(0);
    scr.trueColour = isTrueColour(std::getenv("COLORTERM"), scr.colours ? COLORS : 0,
                                  tigetflag(const_cast<char*>("RGB")) > 0);

    const char* tsl = tigetstr(const_cast<char*>("tsl"));
    const char* fsl = tigetstr(const_cast<char*>("fsl"));
    if (capabilityPresent(tsl) && capabilityPresent(fsl) &&
        std::string(tsl).find('%') == std::string::npos) {
        scr.titleStart = tsl;
        scr.titleEnd = fsl;
    } else if (tigetflag(const_cast<char*>("XT")) > 0) {
        scr.titleStart = "\x1b]2;";
        scr.titleEnd.assign(1, '\x07'); // BEL; assigned as a character (GCC 12 -O3 -Wrestrict)
    }
    return true;
}

void screenStop() {
    if (!scr.started || scr.stopped) {
        return;
    }
    scr.stopped = true;
    if (!isendwin()) {
        curs_set(1);
        endwin();
    }
}

bool screenStarted() {
    return scr.started && !scr.stopped;
}

int screenCols() {
    return screenStarted() ? COLS : 0;
}

int screenRows() {
    return screenStarted() ? LINES : 0;
}

void screenResize() {
    if (!screenStarted()) {
        return;
    }
    winsize ws{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_row > 0 && ws.ws_col > 0 &&
        (ws.ws_row != LINES || ws.ws_col != COLS)) {
        resizeterm(ws.ws_row, ws.ws_col);
    }
    screenForceRepaint();
}

void screenForceRepaint() {
    if (screenStarted()) {
        clearok(curscr, TRUE);
    }
}

void screenBeginFrame() {
    scr.spans.clear();
    scr.cursorY = -1;
    scr.cursorX = -1;
    if (screenStarted()) {
        werase(stdscr);
    }
}

void screenPut(int y, int x, const std::string& text, const Paint& paint) {
    int skip = 0;
    int visible = 0;
    if (!screenStarted() || y < 0 || y >= LINES ||
        !clipSpan(x, static_cast<int>(text.size()), COLS, &skip, &visible)) {
        return;
    }
    std::string part = text.substr(static_cast<size_t>(skip), static_cast<size_t>(visible));
    attrset(attributesOf(paint));
    mvaddnstr(y, x + skip, part.c_str(), visible);
    attrset(A_NORMAL);
    if (paint.exact && scr.trueColour) {
        scr.spans.push_back(
            ColourSpan{y, x + skip, part, paint.fg, paint.bg, paint.bold || paint.underline});
    }
}

void screenFill(const CellRect& r, const Paint& paint) {
    if (r.w <= 0) {
        return;
    }
    std::string blanks(static_cast<size_t>(r.w), ' ');
    for (int row = r.y; row < r.y + r.h; ++row) {
        screenPut(row, r.x, blanks, paint);
    }
}

void screenCursor(int y, int x) {
    scr.cursorY = y;
    scr.cursorX = x;
}

void screenEndFrame() {
    if (!screenStarted()) {
        return;
    }
    bool showCursor =
        scr.cursorY >= 0 && scr.cursorY < LINES && scr.cursorX >= 0 && scr.cursorX < COLS;
    if (showCursor) {
        move(scr.cursorY, scr.cursorX);
    }
    curs_set(showCursor ? 1 : 0);
    wnoutrefresh(stdscr);
    doupdate();
    if (scr.spans.empty()) {
        return;
    }
    // ncurses leaves the attributes normal after an update; each span ends with a reset,
    // so its idea of the terminal's state stays right.
    std::string out;
    for (const ColourSpan& span : scr.spans) {
        out += cursorTo(span.y, span.x);
        out += trueColourSgr(span.fg, span.bg);
        if (span.emphasis) {
            out += "\x1b[1;4m";
        }
        out += span.text;
        out += "\x1b[0m";
    }
    int cy = 0;
    int cx = 0;
    getyx(curscr, cy, cx);
    out += cursorTo(cy, cx);
    writeAll(out);
}

void screenWindow(const CellRect& r, const std::string& title, int titleRoom, bool closeBox,
                  bool active, const Paint& face, const Paint& fill) {
    occludeSpans(scr.spans, r);
    screenFill(r, fill);
    Paint caption = captionPaint(active);
    screenFill(CellRect{r.x, r.y, r.w, 1}, caption);
    screenPut(r.y, r.x + 1, title.substr(0, static_cast<size_t>(std::max(titleRoom, 0))), caption);
    if (closeBox) {
        screenPut(r.y, r.x + r.w - 4, "[X]", caption);
    }
    if (!screenStarted() || r.w < 2 || r.h < 2) {
        return;
    }
    // The side and bottom borders, below the title bar.
    attr_t a = attributesOf(face);
    int right = r.x + r.w - 1;
    int bottom = r.y + r.h - 1;
    for (int row = r.y + 1; row < bottom; ++row) {
        putCell(row, r.x, ACS_VLINE, a);
        putCell(row, right, ACS_VLINE, a);
    }
    putCell(bottom, r.x, ACS_LLCORNER, a);
    for (int col = r.x + 1; col < right; ++col) {
        putCell(bottom, col, ACS_HLINE, a);
    }
    putCell(bottom, right, ACS_LRCORNER, a);
}

void screenSetTitle(const std::string& text) {
    if (!screenStarted() || scr.titleStart.empty() || scr.lastTitle == text) {
        return;
    }
    scr.lastTitle = text;
    writeAll(scr.titleStart + text + scr.titleEnd);
}

} // namespace platform::term
