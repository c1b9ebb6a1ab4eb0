// The rules of the access file and the verdicts drawn from them: a line parser that takes
// the file's bytes in pieces of any size, a rule set built as the lines come (hash tables
// that grow a little at each insertion, so no single line costs more than a few dozen
// slots of work), and the two questions the server asks (may this address in, may this
// name stay), each answered in a bounded number of table probes whatever the set's size.
// Nothing here touches the file system or a station.
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

constexpr int ACCESS_MAX_RULES = 1000000; // a file with more is refused whole
constexpr int ACCESS_PATTERN_MAX = 63;    // characters of a callsign pattern
constexpr size_t ACCESS_LINE_MAX = 1024;  // bytes of a line, its end not counted
constexpr int ACCESS_NO_RULE_LINE = 0;    // the line of a verdict that no rule named

enum AccessKind : uint8_t { ACCESS_ADDRESS = 0, ACCESS_CALLSIGN = 1 };

// One good line.
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

// One table of a rule set: open addressing, a power-of-two number of slots, at most half
// of them used. While it grows, the slots of the table before are moved a few at each
// insertion (and by accessSettleRules); both are searched until the move is done.
struct AccessTable {
    void* slots = nullptr;
    uint32_t capacity = 0;
    uint32_t used = 0;
    void* old = nullptr; // the slots before the last growth, until they are moved
    uint32_t oldCapacity = 0;
    uint32_t moved = 0; // slots of old already moved
};

// The rules of one file, each distinct pattern once with the first line that denies it and
// the first that allows it. Owns its memory (freed by accessClearRules and at its end).
struct AccessRuleSet {
    int count = 0;         // good rules read
    int addressAllows = 0; // allow rules of each kind: a kind with any is closed
    int callsignAllows = 0;
    int leftOut = 0;            // good rules beyond ACCESS_MAX_RULES, not stored
    bool failed = false;        // memory ran out: some rules are missing, the set must not be used
    uint64_t prefixLengths = 0; // bit n: an address rule with prefix length n (0 to 32)
    uint64_t wildcardLengths = 0; // bit n: a callsign pattern of n characters and a '*'
    AccessTable addresses;
    AccessTable names;
    char* text = nullptr; // the callsign patterns, lower case, one after the other
    size_t textUsed = 0;
    size_t textCapacity = 0;

    AccessRuleSet() = default;
    ~AccessRuleSet();
    AccessRuleSet(const AccessRuleSet&) = delete;
    AccessRuleSet& operator=(const AccessRuleSet&) = delete;
};

// Empties a set and gives back its memory.
void accessClearRules(AccessRuleSet* set);
// Adds a good rule (a pattern seen before keeps its first deny and first allow line). Past
// ACCESS_MAX_RULES it is only counted in leftOut. False, with failed set, when memory ran
// out.
bool accessAddRule(AccessRuleSet* set, const AccessRule& rule);
// Moves at most maxSlots slots of the tables' last growth; true when nothing is left to
// move (the set then uses no more memory than its tables).
bool accessSettleRules(AccessRuleSet* set, uint32_t maxSlots);

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
    // Called with each good rule before it is added, when set (tests and the fuzzer).
    void (*ruleSeen)(const AccessRule& rule, void* context) = nullptr;
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
// Parses one line (without its LF): true, with *rule filled, for a good rule; false for a
// blank or comment line and for a bad one (reported through report, which may be null).
bool accessReadRule(int lineNumber, const char* text, size_t length, AccessRule* rule,
                    AccessBadLine report, void* context);
// Parses one line into set; for the fuzzer and for checks of one line.
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
