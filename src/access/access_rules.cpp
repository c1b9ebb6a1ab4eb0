#include "access/access_rules.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// True when the length bytes of a equal the zero-terminated word, without regard to case.
bool equalsWord(const char* a, size_t length, const char* word) {
    size_t n = std::strlen(word);
    if (n != length) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        if (lowerAscii(a[i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// A pattern that is read as an address: it starts with a digit and holds only digits,
// dots and slashes (so "1.2.3.4.5" is a bad address, not a callsign).
bool looksLikeAddress(const char* text, size_t length) {
    if (length == 0 || !isDigit(text[0])) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        if (!isDigit(text[i]) && text[i] != '.' && text[i] != '/') {
            return false;
        }
    }
    return true;
}

// Parses a dotted IPv4 address of exactly four decimal parts of 0 to 255 (no leading
// zeros, which some readers take as octal) into host order; null or the reason why not.
const char* parseAddress(const char* text, size_t length, uint32_t* out) {
    uint32_t address = 0;
    int parts = 0;
    size_t i = 0;
    while (true) {
        size_t start = i;
        uint32_t value = 0;
        while (i < length && isDigit(text[i]) && i - start < 4) {
            value = value * 10 + static_cast<uint32_t>(text[i] - '0');
            ++i;
        }
        size_t digits = i - start;
        if (digits == 0 || digits > 3 || value > 255) {
            return "not an IPv4 address";
        }
        if (digits > 1 && text[start] == '0') {
            return "not an IPv4 address (a part with a leading zero)";
        }
        address = (address << 8) | value;
        ++parts;
        if (i == length) {
            break;
        }
        if (text[i] != '.' || parts == 4) {
            return "not an IPv4 address";
        }
        ++i;
    }
    if (parts != 4) {
        return "not an IPv4 address";
    }
    *out = address;
    return nullptr;
}

// Fills an address rule from "A.B.C.D" or "A.B.C.D/N"; null or the reason why not.
const char* parseAddressRule(const char* text, size_t length, AccessRule* rule) {
    const char* slash = static_cast<const char*>(std::memchr(text, '/', length));
    size_t addressLength = slash != nullptr ? static_cast<size_t>(slash - text) : length;
    uint32_t address = 0;
    if (const char* why = parseAddress(text, addressLength, &address)) {
        return why;
    }
    uint32_t prefix = 32;
    if (slash != nullptr) {
        const char* digits = slash + 1;
        size_t n = length - addressLength - 1;
        if (n == 0) {
            return "no prefix length after '/'";
        }
        prefix = 0;
        for (size_t i = 0; i < n; ++i) {
            if (!isDigit(digits[i])) {
                return "not an IPv4 address";
            }
            if (prefix <= 32) {
                prefix = prefix * 10 + static_cast<uint32_t>(digits[i] - '0');
            }
        }
        if (prefix > 32) {
            return "prefix length above 32";
        }
    }
    rule->kind = ACCESS_ADDRESS;
    rule->mask = prefix == 0 ? 0u : ~0u << (32 - prefix);
    rule->network = address & rule->mask;
    return nullptr;
}

// Fills a callsign rule; null or the reason why not.
const char* parseCallsignRule(const char* text, size_t length, AccessRule* rule) {
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c <= 32 || c >= 127) {
            return "a byte that cannot be in a pattern";
        }
    }
    if (length > static_cast<size_t>(ACCESS_PATTERN_MAX)) {
        return "pattern longer than 63 characters";
    }
    rule->kind = ACCESS_CALLSIGN;
    rule->prefix = text[length - 1] == '*' ? 1 : 0;
    rule->length = static_cast<uint8_t>(rule->prefix != 0 ? length - 1 : length);
    std::memcpy(rule->text, text, length);
    rule->text[length] = '\0';
    return nullptr;
}

void report(AccessBadLine fn, void* context, int line, const char* why, const char* word,
            size_t length) {
    if (fn != nullptr) {
        fn(line, why, word, length, context);
    }
}

// The next word of text[*at, length): its start and length; false at the end.
bool nextWord(const char* text, size_t length, size_t* at, const char** word, size_t* n) {
    size_t i = *at;
    while (i < length && isBlank(text[i])) {
        ++i;
    }
    if (i == length) {
        *at = i;
        return false;
    }
    size_t start = i;
    while (i < length && !isBlank(text[i])) {
        ++i;
    }
    *word = text + start;
    *n = i - start;
    *at = i;
    return true;
}

} // namespace

bool accessIsCallsignPattern(const char* text, size_t length) {
    if (length == 0 || length > static_cast<size_t>(ACCESS_PATTERN_MAX) ||
        looksLikeAddress(text, length)) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c <= 32 || c >= 127 || c == '#') {
            return false;
        }
    }
    return true;
}

bool accessReadRule(int lineNumber, const char* text, size_t length, AccessRule* rule,
                    AccessBadLine reportFn, void* context) {
    const char* hash = static_cast<const char*>(std::memchr(text, '#', length));
    if (hash != nullptr) {
        length = static_cast<size_t>(hash - text);
    }
    size_t at = 0;
    const char* action = nullptr;
    size_t actionLength = 0;
    if (!nextWord(text, length, &at, &action, &actionLength)) {
        return false; // blank or comment
    }
    bool allow = equalsWord(action, actionLength, "allow");
    if (!allow && !equalsWord(action, actionLength, "deny")) {
        report(reportFn, context, lineNumber, "unknown word (allow or deny expected)", action,
               actionLength);
        return false;
    }
    const char* pattern = nullptr;
    size_t patternLength = 0;
    if (!nextWord(text, length, &at, &pattern, &patternLength)) {
        report(reportFn, context, lineNumber, "allow or deny without a pattern", action,
               actionLength);
        return false;
    }
    const char* extra = nullptr;
    size_t extraLength = 0;
    if (nextWord(text, length, &at, &extra, &extraLength)) {
        report(reportFn, context, lineNumber, "more than one pattern", extra, extraLength);
        return false;
    }
    *rule = AccessRule{};
    rule->allow = allow ? 1 : 0;
    rule->line = lineNumber;
    const char* why = looksLikeAddress(pattern, patternLength)
                          ? parseAddressRule(pattern, patternLength, rule)
                          : parseCallsignRule(pattern, patternLength, rule);
    if (why != nullptr) {
        report(reportFn, context, lineNumber, why, pattern, patternLength);
        return false;
    }
    return true;
}

void accessParseLine(AccessRuleSet* set, int lineNumber, const char* text, size_t length,
                     AccessBadLine reportFn, void* context) {
    AccessRule rule;
    if (accessReadRule(lineNumber, text, length, &rule, reportFn, context)) {
        accessAddRule(set, rule);
    }
}

void accessParseBegin(AccessParser* parser, AccessRuleSet* set, AccessBadLine reportFn,
                      void* context) {
    accessClearRules(set);
    parser->set = set;
    parser->report = reportFn;
    parser->context = context;
    parser->ruleSeen = nullptr;
    parser->lineNumber = 1;
    parser->length = 0;
    parser->tooLong = false;
}

namespace {

// Ends the line gathered so far and starts the next one.
void finishLine(AccessParser* parser) {
    if (parser->tooLong) {
        report(parser->report, parser->context, parser->lineNumber, "line longer than 1024 bytes",
               parser->line, 0);
    } else {
        AccessRule rule;
        if (accessReadRule(parser->lineNumber, parser->line, parser->length, &rule, parser->report,
                           parser->context)) {
            if (parser->ruleSeen != nullptr) {
                parser->ruleSeen(rule, parser->context);
            }
            accessAddRule(parser->set, rule);
        }
    }
    ++parser->lineNumber;
    parser->length = 0;
    parser->tooLong = false;
}

} // namespace

void accessParseFeed(AccessParser* parser, const char* bytes, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        if (bytes[i] == '\n') {
            finishLine(parser);
        } else if (parser->length < ACCESS_LINE_MAX) {
            parser->line[parser->length++] = bytes[i];
        } else {
            parser->tooLong = true;
        }
    }
}

void accessParseEnd(AccessParser* parser) {
    if (parser->length > 0 || parser->tooLong) {
        finishLine(parser);
    }
}
