// The access file's parser on arbitrary bytes: every input is a whole file, fed once in
// one piece and once in pieces whose sizes come from the input itself. Both must store the
// same rules and report the same bad lines, every stored rule must be well formed, and
// the verdicts must stay inside the set.
#include "access/access_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void require(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}

AccessRuleSet whole;
AccessRuleSet pieces;

struct Tally {
    int reports;
    int lastLine;
    std::vector<AccessRule> rules;
};

void keep(const AccessRule& rule, void* context) {
    static_cast<Tally*>(context)->rules.push_back(rule);
}

void count(int line, const char* why, const char*, size_t, void* context) {
    auto* t = static_cast<Tally*>(context);
    require(why != nullptr && line > t->lastLine - 1 && line >= 1);
    t->lastLine = line;
    ++t->reports;
}

void checkRule(const AccessRule& rule) {
    require(rule.kind == ACCESS_ADDRESS || rule.kind == ACCESS_CALLSIGN);
    require(rule.allow <= 1 && rule.line >= 1);
    if (rule.kind == ACCESS_ADDRESS) {
        require((rule.network & ~rule.mask) == 0);
        require((rule.mask & (~rule.mask >> 1)) == 0 || rule.mask == 0); // contiguous
    } else {
        size_t length = std::strlen(rule.text);
        require(length >= 1 && length <= ACCESS_PATTERN_MAX);
        require(rule.length + rule.prefix == length);
        require(accessIsCallsignPattern(rule.text, length));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* text = reinterpret_cast<const char*>(data);
    static Tally a;
    static Tally b;
    a.reports = 0;
    a.lastLine = 0;
    a.rules.clear();
    b.reports = 0;
    b.lastLine = 0;
    b.rules.clear();
    AccessParser parser{};
    accessParseBegin(&parser, &whole, count, &a);
    parser.ruleSeen = keep;
    accessParseFeed(&parser, text, size);
    accessParseEnd(&parser);

    accessParseBegin(&parser, &pieces, count, &b);
    parser.ruleSeen = keep;
    size_t at = 0;
    size_t step = size > 0 ? data[0] % 13 + 1 : 1;
    while (at < size) {
        size_t n = step < size - at ? step : size - at;
        accessParseFeed(&parser, text + at, n);
        at += n;
        step = data[at % size] % 29 + 1;
    }
    accessParseEnd(&parser);

    require(a.reports == b.reports);
    require(whole.count == pieces.count && whole.leftOut == pieces.leftOut);
    require(whole.count <= ACCESS_MAX_RULES);
    require(a.rules.size() == b.rules.size() &&
            a.rules.size() == static_cast<size_t>(whole.count + whole.leftOut));
    int allows[2] = {0, 0};
    for (size_t i = 0; i < a.rules.size(); ++i) {
        checkRule(a.rules[i]);
        require(std::memcmp(&a.rules[i], &b.rules[i], sizeof(AccessRule)) == 0);
        allows[a.rules[i].kind] += a.rules[i].allow;
    }
    require(allows[ACCESS_ADDRESS] == whole.addressAllows);
    require(allows[ACCESS_CALLSIGN] == whole.callsignAllows);

    uint32_t address = 0;
    std::memcpy(&address, data, size < 4 ? size : 4);
    AccessVerdict v = accessJudgeAddress(&whole, address);
    AccessVerdict w = accessJudgeAddress(&pieces, address);
    require(v.line >= 0 && v.allowed == w.allowed && v.line == w.line);
    char name[80] = "";
    std::memcpy(name, text, size < 79 ? size : 79);
    v = accessJudgeName(&whole, name);
    w = accessJudgeName(&pieces, name);
    require(v.line >= 0 && v.allowed == w.allowed && v.line == w.line);
    return 0;
}
