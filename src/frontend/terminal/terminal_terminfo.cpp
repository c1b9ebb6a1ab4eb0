// Whether the terminal named by TERM can be driven, asked of terminfo without touching the
// screen (term.h's capability macros stay in this one file).
#include "frontend/terminal/terminal.h"

#include <cstdlib>
#include <term.h>
#include <unistd.h>

namespace platform::term {

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
    const char* move = tigetstr(const_cast<char*>("cup"));
    bool canMove = move != nullptr && move != reinterpret_cast<const char*>(-1);
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

} // namespace platform::term
