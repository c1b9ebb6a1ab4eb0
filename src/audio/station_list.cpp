#include "audio/station_list.h"

#include "audio/limits.h"
#include "audio/relay.h"
#include "base/app_state.h"
#include "base/status_text.h"
#include "monitor/monitor.h"
#include "platform/net/batch_send.h"
#include "platform/window/window.h"

#include <cstdio>
#include <cstring>

char listText[LIST_TEXT_SIZE] = "\r";
int32_t listCycle = 0;
int32_t linkedFlag = 0;
int32_t standbyCountdown = 7;

namespace {

constexpr char LIST_HEADER[] = "oNDATACONF V3.67:\r\r";
constexpr char STANDBY_HEADER[] = "oNDATACONF V3.67:    <SB>\r\r";
constexpr char HINT_LINKED[] = "\rThere are linked repeaters\rpresent, use 4-6 sec pauses.\r";
constexpr char HINT_PAUSE[] = "\rPlease pause between overs!\r";
constexpr char STANDBY_STATUS_SENT[] = "            >>STANDBY<<";

constexpr int32_t STANDBY_RESTART = 3;
constexpr int STATUS_TEXT_SIZE = 300;

// Where each station line of the text being built begins, so that whole lines can be
// dropped from the end when the hint would not fit. At most 26 stations can be listed.
constexpr int LINES_MAX = 32;
int lineStarts[LINES_MAX];
int lineCount = 0;
// Set once a line did not fit: every later line is dropped too, so the text stays a prefix.
bool listFull = false;

// Starts listText afresh with a header.
void startText(const char* header) {
    std::snprintf(listText, sizeof listText, "%s", header);
    lineCount = 0;
    listFull = false;
}

// Appends one station line (name and suffix) when it fits whole, with room for the zero byte.
void appendLine(const char* name, const char* suffix) {
    size_t used = std::strlen(listText);
    size_t needed = std::strlen(name) + std::strlen(suffix);
    if (listFull || lineCount >= LINES_MAX || used + needed >= sizeof listText) {
        listFull = true;
        return;
    }
    lineStarts[lineCount++] = static_cast<int>(used);
    std::memcpy(listText + used, name, std::strlen(name));
    std::memcpy(listText + used + std::strlen(name), suffix, std::strlen(suffix) + 1);
}

// True for a station that the list shows: active, named, and not hidden by a leading '('.
bool isListed(const StationRecord* record) {
    return record->state == STATION_ACTIVE && record->name != nullptr && record->name[0] != '(';
}

// Notes a linked repeater ('-' in its name) among the listed stations.
void noteLinked(const StationRecord* record) {
    if (std::strchr(record->name, '-') != nullptr) {
        linkedFlag = 1;
    }
}

} // namespace

void resetListText() {
    std::snprintf(listText, sizeof listText, "\r");
}

void listReset() {
    resetListText();
    listCycle = 0;
    linkedFlag = 0;
    standbyCountdown = 7;
    lineCount = 0;
    listFull = false;
}

void listStart() {
    if (listCycle == LIST_BUILD_CYCLE) {
        startText(LIST_HEADER);
    }
    linkedFlag = 0;
}

void listAddStation(const StationRecord* record) {
    if (listCycle != LIST_BUILD_CYCLE || !isListed(record)) {
        return;
    }
    noteLinked(record);
    appendLine(record->name, "\r");
}

void listAddTalker(const StationRecord* record) {
    if (listCycle != LIST_BUILD_CYCLE || !isListed(record)) {
        return;
    }
    noteLinked(record);
    char status[STATUS_TEXT_SIZE];
    std::snprintf(status, sizeof status, ">>%s<< Que=%d", record->name, queueCount);
    setStatusText(status);
    appendLine(record->name, " <\r");
}

void listSend(const StationRecord* record) {
    if (listCycle != LIST_SEND_CYCLE || record->state != STATION_ACTIVE ||
        limitsWithholds(record)) {
        return;
    }
    sendBatchQueue(record->audioSocket, listText, static_cast<int>(std::strlen(listText) + 1));
}

void listHints() {
    if (listCycle != LIST_BUILD_CYCLE) {
        return;
    }
    const char* hint = nullptr;
    if (linkedFlag == 1) {
        hint = HINT_LINKED;
    } else if (stationCount > 3) {
        hint = HINT_PAUSE;
    }
    if (hint == nullptr) {
        return;
    }
    size_t hintLength = std::strlen(hint);
    while (std::strlen(listText) + hintLength >= sizeof listText && lineCount > 0) {
        listText[lineStarts[--lineCount]] = '\0';
    }
    size_t used = std::strlen(listText);
    if (used + hintLength < sizeof listText) {
        std::memcpy(listText + used, hint, hintLength + 1);
    }
}

void standbyStep() {
    if (standbyCountdown > 0) {
        --standbyCountdown;
    }
    if (standbyCountdown >= 2) {
        return;
    }
    if (standbyCountdown == 1) {
        startText(STANDBY_HEADER);
    }
    char status[STATUS_TEXT_SIZE];
    std::snprintf(status, sizeof status, "<<STANDBY>> U=%d", stationCount);
    setStatusText(status);
    bool sent = false;
    sendBatchBegin();
    forEachStation([&](StationRecord* record, HWND) {
        if (standbyCountdown == 1 && isListed(record)) {
            appendLine(record->name, "\r");
        }
        if (standbyCountdown == 0 && record->state == STATION_ACTIVE && !limitsWithholds(record)) {
            setStatusText(STANDBY_STATUS_SENT);
            sendBatchQueue(record->audioSocket, listText,
                           static_cast<int>(std::strlen(listText) + 1));
            sent = true;
            monitorBeaconSent();
        }
    });
    sendBatchSubmit();
    if (sent) {
        standbyCountdown = STANDBY_RESTART;
    }
}
