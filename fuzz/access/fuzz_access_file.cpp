// The access file's parser on arbitrary bytes: every input is a whole file, fed once in
// one piece and once in pieces whose sizes come from the input itself. Both must store the
// same rules and report the same bad lines, every stored rule must be well formed, and
// the verdicts must stay inside the set.
#include "access/access_rules.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

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
};

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
    Tally a{0, 0};
    AccessParser parser{};
    accessParseBegin(&parser, &whole, count, &a);
    accessParseFeed(&parser, text, size);
    accessParseEnd(&parser);

    Tally b{0, 0};
    accessParseBegin(&parser, &pieces, count, &b);
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
    int allows[2] = {0, 0};
    for (int i = 0; i < whole.count; ++i) {
        checkRule(whole.rules[i]);
        require(std::memcmp(&whole.rules[i], &pieces.rules[i], sizeof(AccessRule)) == 0);
        allows[whole.rules[i].kind] += whole.rules[i].allow;
    }
    require(allows[ACCESS_ADDRESS] == whole.addressAllows);
    require(allows[ACCESS_CALLSIGN] == whole.callsignAllows);

    uint32_t address = 0;
    std::memcpy(&address, data, size < 4 ? size : 4);
    AccessVerdict v = accessJudgeAddress(&whole, address);
    require(v.line >= 0);
    char name[64] = "";
    std::memcpy(name, text, size < 63 ? size : 63);
    v = accessJudgeName(&whole, name);
    require(v.line >= 0);
    return 0;
}
