// A request line read, the command it names run, and its answer framed: "ok" and the body,
// or "error TEXT"; then an empty line. Words from the request are escaped in the answer.
#include "access/access.h"
#include "ctl/ctl_internal.h"
#include "monitor/monitor_view.h"
#include "platform/stream/escape.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr const char* COMMANDS =
    "status, stations --json, close STATION, deny STATION, reload, events";
constexpr size_t ERROR_SIZE = escapedSize(CTL_REQUEST_MAX) + 200;

void append(CtlAnswer* answer, const char* text, size_t length) {
    if (answer->length + length <= CTL_ANSWER_MAX) {
        std::memcpy(answer->text + answer->length, text, length);
        answer->length += length;
    }
}

void frameError(CtlAnswer* answer, const char* error) {
    answer->length = 0;
    answer->full = false;
    append(answer, "error ", 6);
    append(answer, error, std::strlen(error));
    append(answer, "\n\n", 2);
}

// The request's words: the command, and the rest (blanks around it taken off).
void splitRequest(char* line, char** command, char** argument) {
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    *command = line;
    while (*line != '\0' && *line != ' ' && *line != '\t') {
        ++line;
    }
    if (*line != '\0') {
        *line++ = '\0';
    }
    while (*line == ' ' || *line == '\t') {
        ++line;
    }
    char* end = line + std::strlen(line);
    while (end > line && (end[-1] == ' ' || end[-1] == '\t')) {
        *--end = '\0';
    }
    *argument = line;
}

// Runs command with argument, adding body lines; false with error filled when it fails.
bool runCommand(const char* command, const char* argument, CtlAnswer* answer, bool* follow,
                char* error, size_t size) {
    char shown[escapedSize(CTL_REQUEST_MAX)];
    bool noArgument = argument[0] == '\0';
    if (std::strcmp(command, "status") == 0 && noArgument) {
        ctlStatus(answer);
        return true;
    }
    if (std::strcmp(command, "stations") == 0 && std::strcmp(argument, "--json") == 0) {
        std::string json;
        if (!monitorStationsJson(&json)) {
            std::snprintf(error, size, "the stations could not be written as JSON");
            return false;
        }
        ctlAnswerLine(answer, json.c_str());
        return true;
    }
    if ((std::strcmp(command, "close") == 0 || std::strcmp(command, "deny") == 0) && !noArgument) {
        return command[0] == 'c' ? ctlCloseStation(argument, answer, error, size)
                                 : ctlDenyStation(argument, answer, error, size);
    }
    if (std::strcmp(command, "reload") == 0 && noArgument) {
        if (!accessReloadNow(error, size)) {
            return false;
        }
        ctlAnswerLine(answer, "the access file was read again");
        return true;
    }
    if (std::strcmp(command, "events") == 0 && noArgument) {
        *follow = true;
        return true;
    }
    if (std::strcmp(command, "status") == 0 || std::strcmp(command, "stations") == 0 ||
        std::strcmp(command, "close") == 0 || std::strcmp(command, "deny") == 0 ||
        std::strcmp(command, "reload") == 0 || std::strcmp(command, "events") == 0) {
        escapeText(command, shown, sizeof shown);
        std::snprintf(error, size, "%s: wrong argument; the commands: %s", shown, COMMANDS);
        return false;
    }
    escapeText(command, shown, sizeof shown);
    std::snprintf(error, size, "unknown command %s; the commands: %s", shown, COMMANDS);
    return false;
}

} // namespace

void ctlAnswerLine(CtlAnswer* answer, const char* line) {
    size_t length = std::strlen(line);
    if (length == 0) {
        line = "-";
        length = 1;
    }
    // Room is kept for the answer's end.
    if (answer->full || answer->length + length + 1 + 2 > CTL_ANSWER_MAX) {
        answer->full = true;
        return;
    }
    append(answer, line, length);
    append(answer, "\n", 1);
}

void ctlRunRequest(const char* request, size_t length, CtlAnswer* answer, bool* follow) {
    *follow = false;
    answer->length = 0;
    answer->full = false;
    char error[ERROR_SIZE] = "";
    char line[CTL_REQUEST_MAX + 1];
    if (length > CTL_REQUEST_MAX) {
        length = CTL_REQUEST_MAX;
    }
    std::memcpy(line, request, length);
    line[length] = '\0';
    for (size_t i = 0; i < length; ++i) {
        unsigned char byte = static_cast<unsigned char>(line[i]);
        if ((byte < 32 && byte != '\t') || byte == 127) {
            frameError(answer, "a request holds no control bytes");
            return;
        }
    }
    char* command = nullptr;
    char* argument = nullptr;
    splitRequest(line, &command, &argument);
    append(answer, "ok\n", 3);
    if (!runCommand(command, argument, answer, follow, error, sizeof error)) {
        *follow = false;
        frameError(answer, error);
        return;
    }
    if (answer->full) {
        *follow = false;
        frameError(answer, "the answer is longer than the server can send at once");
        return;
    }
    append(answer, "\n", 1);
}
