// The access rules at the server's steps: a new control sender, a station's name, the
// tick that rereads the file, the operator's deny. A station that the rules deny is
// closed the way a BYE closes it, so the hold on its address follows as usual.
#include "access/access.h"
#include "access/access_internal.h"
#include "base/app_state.h"
#include "platform/profile/atomic_file.h"
#include "platform/window/window.h"
#include "stations/station.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr DWORD CHECK_PERIOD_MS = 1000;

void (*denialListener)(const char* name, uint32_t address, int line) = nullptr;
bool checkedOnce = false;
DWORD lastCheckMs = 0;

void tellDenial(const char* name, uint32_t address, int line) {
    if (denialListener != nullptr) {
        denialListener(name, address, line);
    }
}

// The verdict of the rules in force on a connected station: its address, then its name;
// an unnamed one is denied once it has had its ticks to name itself in a closed conference.
AccessVerdict judgeStation(const StationRecord* record) {
    const AccessRuleSet* rules = accessinternal::activeRules();
    AccessVerdict verdict = accessJudgeAddress(rules, record->source.sin_addr.s_addr);
    if (!verdict.allowed) {
        return verdict;
    }
    if (record->name != nullptr) {
        return accessJudgeName(rules, record->name);
    }
    if (rules->callsignAllows > 0 && record->accessTicks >= ACCESS_NAMING_TICKS) {
        return {false, ACCESS_NO_RULE_LINE};
    }
    return {true, ACCESS_NO_RULE_LINE};
}

// Closes a denied station as a BYE does, holds its address off for
// ACCESS_DENIED_HOLD_TICKS and tells the listener.
void closeDenied(HWND window, StationRecord* record, int line) {
    stationRequestClose(window, record);
    accessHoldAddress(record->source.sin_addr.s_addr);
    tellDenial(record->name, record->source.sin_addr.s_addr, line);
}

// Runs fn(window, record) for every station that is not closing.
template <typename Fn> void forEachOpenStation(Fn fn) {
    forEachStation([&](StationRecord* record, HWND window) {
        if (record->state != STATION_CLOSING) {
            fn(window, record);
        }
    });
}

} // namespace

namespace accessinternal {

void closeDeniedStations() {
    forEachOpenStation([](HWND window, StationRecord* record) {
        AccessVerdict verdict = judgeStation(record);
        if (!verdict.allowed) {
            closeDenied(window, record, verdict.line);
        }
    });
}

} // namespace accessinternal

void accessTick() {
    DWORD now = GetTickCount();
    bool reloaded = false;
    if (!checkedOnce || now - lastCheckMs >= CHECK_PERIOD_MS) {
        checkedOnce = true;
        lastCheckMs = now;
        reloaded = accessinternal::reloadIfChanged(false);
    }
    reloaded = accessinternal::takeReplaced() || reloaded;
    bool closedKind = accessinternal::activeRules()->callsignAllows > 0;
    forEachOpenStation([&](HWND window, StationRecord* record) {
        if (record->accessTicks < ACCESS_NAMING_TICKS) {
            ++record->accessTicks;
        }
        bool namingDue =
            closedKind && record->name == nullptr && record->accessTicks >= ACCESS_NAMING_TICKS;
        if (reloaded || namingDue) {
            AccessVerdict verdict = judgeStation(record);
            if (!verdict.allowed) {
                closeDenied(window, record, verdict.line);
            }
        }
    });
}

bool accessAddressAllowed(uint32_t address) {
    if (accessAddressHeld(address)) {
        return false; // told once, when its station was closed
    }
    AccessVerdict verdict = accessJudgeAddress(accessinternal::activeRules(), address);
    if (!verdict.allowed) {
        tellDenial(nullptr, address, verdict.line);
    }
    return verdict.allowed;
}

bool accessStationNamed(HWND window, StationRecord* record) {
    if (record->name == nullptr) {
        return false;
    }
    AccessVerdict verdict = accessJudgeName(accessinternal::activeRules(), record->name);
    if (verdict.allowed) {
        return false;
    }
    closeDenied(window, record, verdict.line);
    return true;
}

void accessSetDenialListener(void (*fn)(const char* name, uint32_t address, int line)) {
    denialListener = fn;
}

bool accessAppendDeny(const char* callsign) {
    const char* path = accessinternal::filePath();
    if (path[0] == '\0' || callsign == nullptr ||
        !accessIsCallsignPattern(callsign, std::strlen(callsign)) ||
        accessinternal::activeRules()->count >= ACCESS_MAX_RULES) {
        return false; // a full set takes no rule: the file would then be refused whole
    }
    struct stat st {};
    if (::stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        return false; // a FIFO or device is never opened for reading here
    }
    namespace pp = platform::profile;
    std::string content;
    pp::ReadResult read = pp::readWholeFile(path, content);
    if (read == pp::ReadResult::Failed) {
        return false;
    }
    // The new line ends the way the file's lines do; a last line without its end gets one.
    const char* lineEnd = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
    if (!content.empty() && content.back() != '\n') {
        content += lineEnd;
    }
    content += "deny ";
    content += callsign;
    content += lineEnd;
    bool wasCurrent = accessinternal::fileIsCurrent();
    if (!pp::replaceFile(path, content)) {
        return false;
    }
    int line = static_cast<int>(std::count(content.begin(), content.end(), '\n'));
    if (accessinternal::addAppendedDeny(callsign, line, wasCurrent)) {
        accessinternal::closeDeniedStations();
    }
    return true;
}

void accessReset() {
    accessHoldReset();
    accessinternal::forgetFile();
    accessSetFileOverride(nullptr);
    denialListener = nullptr;
    checkedOnce = false;
    lastCheckMs = 0;
}
