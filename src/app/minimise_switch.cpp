#include "app/minimise_switch.h"

#include <cstring>

namespace {

// The six white-space characters: space, tab, line feed, vertical tab, form feed, return.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

} // namespace

bool minimiseSwitchGiven(const char* commandLine) {
    if (commandLine == nullptr) {
        return false;
    }
    const char* found = std::strstr(commandLine, "-m");
    if (found == nullptr) {
        found = std::strstr(commandLine, "-M");
    }
    if (found == nullptr) {
        return false;
    }
    bool startsWord = found == commandLine || isBlank(found[-1]);
    bool endsWord = found[2] == '\0' || isBlank(found[2]);
    return startsWord && endsWord;
}
