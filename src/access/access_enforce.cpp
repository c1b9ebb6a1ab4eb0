// The access rules at the server's steps: a new control sender, a station's name, the
// tick that rereads the file, the operator's deny. A station that the rules deny is
// closed the way a BYE closes it, so the hold on its address follows as usual.
#include "access/access.h"
#include "access/access_internal.h"
#include "base/app_state.h"
#include "platform/profile/atomic_file.h"
#include "platform/window/window.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <sys/stat.h>

namespace {

constexpr DWORD CHECK_PERIOD_MS = 1000;

void (*denialListener)(const char* name, uint32_t address, int line) = nullptr;
void (*rulesListener)() = nullptr; // the stations' walk that closes the ones denied
bool checkedOnce = false;
DWORD lastCheckMs = 0;

void tellDenial(const char* name, uint32_t address, int line) {
    if (denialListener != nullptr) {
        denialListener(name, address, line);
    }
}

} // namespace

namespace accessinternal {

void closeDeniedStations() {
    if (rulesListener != nullptr) {
        rulesListener();
    }
}

} // namespace accessinternal

bool accessTick() {
    DWORD now = GetTickCount();
    bool reloaded = false;
    if (!checkedOnce || now - lastCheckMs >= CHECK_PERIOD_MS) {
        checkedOnce = true;
        lastCheckMs = now;
        reloaded = accessinternal::reloadIfChanged(false);
    }
    return accessinternal::takeReplaced() || reloaded;
}

bool accessConferenceClosed() {
    return accessinternal::activeRules()->callsignAllows > 0;
}

AccessVerdict accessJudgeStation(uint32_t address, const char* name, int32_t accessTicks) {
    const AccessRuleSet* rules = accessinternal::activeRules();
    AccessVerdict verdict = accessJudgeAddress(rules, address);
    if (!verdict.allowed) {
        return verdict;
    }
    if (name != nullptr) {
        return accessJudgeName(rules, name);
    }
    if (rules->callsignAllows > 0 && accessTicks >= ACCESS_NAMING_TICKS) {
        return {false, ACCESS_NO_RULE_LINE};
    }
    return {true, ACCESS_NO_RULE_LINE};
}

AccessVerdict accessJudgeStationName(const char* name) {
    return accessJudgeName(accessinternal::activeRules(), name);
}

void accessDenied(const char* name, uint32_t address, int line) {
    accessHoldAddress(address);
    tellDenial(name, address, line);
}

void accessSetRulesListener(void (*fn)()) {
    rulesListener = fn;
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
