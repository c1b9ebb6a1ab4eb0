// The rules of the access file and the verdicts drawn from them: a flat, fixed-size set of
// rules (no allocation per rule), a line parser that takes the file's bytes in pieces of
// any size, and the two questions the server asks (may this address in, may this name
// stay). Nothing here touches the file system or a station.
//
// Lines: "deny PATTERN" or "allow PATTERN" (the word without regard to case), blanks and
// tabs around the words, '#' starts a comment, a CR before the LF belongs to the line end.
// A PATTERN that starts with a digit and holds only digits, dots and one '/' is an IPv4
// address ("192.0.2.7") or CIDR block ("192.0.2.0/24"); any other PATTERN is a callsign of
// printable characters, matched without regard to ASCII case, whose last '*' (only a
// trailing one) matches any rest, so "N0C*" matches "N0CALL" and "*" every name.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int ACCESS_MAX_RULES = 10000;
constexpr int ACCESS_PATTERN_MAX = 63;   // characters of a callsign pattern
constexpr size_t ACCESS_LINE_MAX = 1024; // bytes of a line, its end not counted
constexpr int ACCESS_NO_RULE_LINE = 0;   // the line of a verdict that no rule named

enum AccessKind : uint8_t { ACCESS_ADDRESS = 0, ACCESS_CALLSIGN = 1 };

struct AccessRule {
    uint8_t kind;     // AccessKind
    uint8_t allow;    // 1 allow, 0 deny
    uint8_t length;   // callsign: characters before the wildcard (or all of them)
    uint8_t prefix;   // callsign: 1 when the pattern ends in '*'
    int32_t line;     // line number in the file (from 1)
    uint32_t network; // address: host order, host bits cleared
    uint32_t mask;    // address: host order
    char text[ACCESS_PATTERN_MAX + 1];
};

struct AccessRuleSet {
    int count;
    int addressAllows; // allow rules of each kind: a kind with any is closed
    int callsignAllows;
    int leftOut; // good rules beyond ACCESS_MAX_RULES, not stored
    AccessRule rules[ACCESS_MAX_RULES];
};

// Empties a set.
void accessClearRules(AccessRuleSet* set);

// Called for each line that cannot be read: its number, why (a fixed text) and the word
// it is about (length bytes, not terminated, may be empty).
using AccessBadLine = void (*)(int line, const char* why, const char* word, size_t length,
                               void* context);

// Feeds a file's bytes to a set, line by line. State between pieces lives here, so a file
// can be read through a small buffer.
struct AccessParser {
    AccessRuleSet* set;
    AccessBadLine report;
    void* context;
    int lineNumber; // of the line being gathered
    size_t length;  // bytes gathered of it (at most ACCESS_LINE_MAX)
    bool tooLong;
    char line[ACCESS_LINE_MAX];
};

// Starts parsing into set (which is emptied). report may be null.
void accessParseBegin(AccessParser* parser, AccessRuleSet* set, AccessBadLine report,
                      void* context);
// Takes the next size bytes of the file.
void accessParseFeed(AccessParser* parser, const char* bytes, size_t size);
// Ends the file: a last line without a line end counts as a line.
void accessParseEnd(AccessParser* parser);
// Parses one line (without its LF) into set; for the fuzzer and for checks of one line.
void accessParseLine(AccessRuleSet* set, int lineNumber, const char* text, size_t length,
                     AccessBadLine report, void* context);

// A verdict: allowed or not, and the line of the rule that decided (ACCESS_NO_RULE_LINE
// when the address or name matched no allow rule of a closed kind, or no rule at all).
struct AccessVerdict {
    bool allowed;
    int line;
};

// The verdict on an IPv4 address (network order): a deny rule that matches wins; else,
// when the set has address allow rules, only an address that one of them matches is in.
AccessVerdict accessJudgeAddress(const AccessRuleSet* set, uint32_t address);
// The verdict on a station name (a zero-terminated text; an empty name is a name) by the
// callsign rules, the same way.
AccessVerdict accessJudgeName(const AccessRuleSet* set, const char* name);

// True when text (length bytes) would be a callsign pattern of a rule: 1 to
// ACCESS_PATTERN_MAX printable characters, no blank, no '#', not read as an address.
bool accessIsCallsignPattern(const char* text, size_t length);
