// The access file's lines and the verdicts drawn from them: what is read from each good
// line, what is reported (once) for each bad one, the limit of the set (a million rules,
// the rest counted), and who is let in, the same whichever way the tables grew.
#include "access/access_rules.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

namespace {

struct Report {
    int line;
    std::string why;
    std::string word;
    bool operator==(const Report& o) const {
        return line == o.line && why == o.why && word == o.word;
    }
};

struct Seen {
    std::vector<Report>* reports;
    std::vector<AccessRule>* rules;
};

void collect(int line, const char* why, const char* word, size_t length, void* context) {
    static_cast<Seen*>(context)->reports->push_back({line, why, std::string(word, length)});
}

void keepRule(const AccessRule& rule, void* context) {
    if (auto* rules = static_cast<Seen*>(context)->rules) {
        rules->push_back(rule);
    }
}

// Parses text fed in pieces of `piece` bytes; the reports come back in *reports, the good
// rules read in *rules (when given).
std::unique_ptr<AccessRuleSet> parse(const std::string& text, std::vector<Report>* reports,
                                     size_t piece = 4096,
                                     std::vector<AccessRule>* rules = nullptr) {
    auto set = std::make_unique<AccessRuleSet>();
    AccessParser parser{};
    static Seen seen;
    seen = Seen{reports, rules};
    accessParseBegin(&parser, set.get(), collect, &seen);
    parser.ruleSeen = keepRule;
    for (size_t at = 0; at < text.size(); at += piece) {
        accessParseFeed(&parser, text.data() + at, std::min(piece, text.size() - at));
    }
    accessParseEnd(&parser);
    return set;
}

uint32_t addr(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

std::ostream& operator<<(std::ostream& os, const Report& r) {
    return os << r.line << " " << r.why << " [" << r.word << "]";
}

} // namespace

TEST(AccessRules, GoodLinesApplyAndEachBadLineIsReportedOnceWhateverThePieces) {
    std::string pattern300(300, 'A');
    std::string text = "# the club's rules\r\n"     // 1
                       "allow G4*   # the club\r\n" // 2
                       "DENY 192.0.2.0/24\r\n"      // 3
                       "frobnicate 1.2.3.4\n"       // 4
                       "deny 10.0.0.0/33\n"         // 5
                       "deny 1.2.3.4.5\n"           // 6
                       "allow " +
                       pattern300 + "\n" +                          // 7
                       std::string("deny \x01\xff\x00X\n", 10) +    // 8
                       "\n"                                         // 9
                       "   \t\n"                                    // 10
                       "deny\n"                                     // 11
                       "allow A B\n"                                // 12
                       "deny 010.1.1.1\n"                           // 13
                       "deny 256.1.1.1\n"                           // 14
                       "deny 1.2.3\n"                               // 15
                       "deny 1.2.3.4/\n"                            // 16
                       + std::string("\x7f\x80garbage\x00\n", 11) + // 17
                       "deny 198.51.100.7\n"                        // 18
                       "allow n0c*";                                // 19, no final line end
    std::vector<Report> expected = {
        {4, "unknown word (allow or deny expected)", "frobnicate"},
        {5, "prefix length above 32", "10.0.0.0/33"},
        {6, "not an IPv4 address", "1.2.3.4.5"},
        {7, "pattern longer than 63 characters", pattern300},
        {8, "a byte that cannot be in a pattern", std::string("\x01\xff\x00X", 4)},
        {11, "allow or deny without a pattern", "deny"},
        {12, "more than one pattern", "B"},
        {13, "not an IPv4 address (a part with a leading zero)", "010.1.1.1"},
        {14, "not an IPv4 address", "256.1.1.1"},
        {15, "not an IPv4 address", "1.2.3"},
        {16, "no prefix length after '/'", "1.2.3.4/"},
        {17, "unknown word (allow or deny expected)", std::string("\x7f\x80garbage\x00", 10)},
    };
    for (size_t piece : {size_t{1}, size_t{7}, size_t{4096}}) {
        std::vector<Report> reports;
        std::vector<AccessRule> rules;
        auto set = parse(text, &reports, piece, &rules);
        EXPECT_EQ(reports, expected) << "pieces of " << piece;
        ASSERT_EQ(set->count, 4) << piece;
        ASSERT_EQ(rules.size(), 4u);
        EXPECT_EQ(set->callsignAllows, 2);
        EXPECT_EQ(set->addressAllows, 0);
        EXPECT_EQ(set->leftOut, 0);

        const AccessRule& g4 = rules[0];
        EXPECT_EQ(g4.kind, ACCESS_CALLSIGN);
        EXPECT_EQ(g4.allow, 1);
        EXPECT_EQ(g4.line, 2);
        EXPECT_STREQ(g4.text, "G4*");
        EXPECT_EQ(g4.length, 2);
        EXPECT_EQ(g4.prefix, 1);

        const AccessRule& block = rules[1];
        EXPECT_EQ(block.kind, ACCESS_ADDRESS);
        EXPECT_EQ(block.allow, 0);
        EXPECT_EQ(block.line, 3);
        EXPECT_EQ(block.network, 0xC0000200u);
        EXPECT_EQ(block.mask, 0xFFFFFF00u);

        EXPECT_EQ(rules[2].line, 18);
        EXPECT_EQ(rules[2].network, 0xC6336407u);
        EXPECT_EQ(rules[2].mask, 0xFFFFFFFFu);
        EXPECT_EQ(rules[3].line, 19);
        EXPECT_STREQ(rules[3].text, "n0c*");
    }
}

TEST(AccessRules, AMillionRulesFitAndTheRestIsCountedNotStored) {
    // Every rule a /32 of 10.0.0.0/8 but the last few, which are wider blocks and callsigns
    // (exact and with a wildcard): the tables grow many times while they are filled.
    std::string text;
    text.reserve(26u * ACCESS_MAX_RULES);
    auto dotted = [](int i) {
        return "10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) + "." +
               std::to_string(i & 255);
    };
    for (int i = 0; i < ACCESS_MAX_RULES - 4; ++i) {
        text += (i % 3 == 0 ? "allow " : "deny ") + dotted(i) + "\n";
    }
    text += "deny 172.16.0.0/12\nallow N0CALL\ndeny M0*\nallow 10.255.0.0/16\n";
    for (int i = 0; i < 50; ++i) {
        text += "deny 192.0.2." + std::to_string(i) + "\n";
    }
    std::vector<Report> reports;
    auto set = parse(text, &reports, 65536);
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(set->count, ACCESS_MAX_RULES);
    EXPECT_EQ(set->leftOut, 50);
    EXPECT_FALSE(set->failed);
    // Each /32 rule decides for its own address, by its own line.
    for (int i : {0, 1, 2, 3, 4095, 65536, 500001, ACCESS_MAX_RULES - 5}) {
        AccessVerdict v = accessJudgeAddress(set.get(), addr(dotted(i).c_str()));
        EXPECT_EQ(v.allowed, i % 3 == 0) << dotted(i);
        EXPECT_EQ(v.line, i + 1) << dotted(i);
    }
    AccessVerdict wide = accessJudgeAddress(set.get(), addr("172.31.1.1"));
    EXPECT_FALSE(wide.allowed);
    EXPECT_EQ(wide.line, ACCESS_MAX_RULES - 3);
    AccessVerdict slash16 = accessJudgeAddress(set.get(), addr("10.255.255.255"));
    EXPECT_TRUE(slash16.allowed);
    EXPECT_EQ(slash16.line, ACCESS_MAX_RULES);
    // Outside every allow rule, and the rules beyond the limit: not stored.
    EXPECT_EQ(accessJudgeAddress(set.get(), addr("11.0.0.1")).line, ACCESS_NO_RULE_LINE);
    EXPECT_FALSE(accessJudgeAddress(set.get(), addr("11.0.0.1")).allowed);
    EXPECT_FALSE(accessJudgeAddress(set.get(), addr("192.0.2.1")).allowed);
    EXPECT_EQ(accessJudgeAddress(set.get(), addr("192.0.2.1")).line, ACCESS_NO_RULE_LINE);
    EXPECT_EQ(accessJudgeName(set.get(), "n0call").line, ACCESS_MAX_RULES - 2);
    EXPECT_FALSE(accessJudgeName(set.get(), "M0ABC").allowed);
    EXPECT_EQ(accessJudgeName(set.get(), "M0ABC").line, ACCESS_MAX_RULES - 1);
    EXPECT_FALSE(accessJudgeName(set.get(), "G4ABC").allowed); // callsign allows close the kind
}

TEST(AccessRules, RepeatedPatternsKeepTheirFirstLinesWhileTheTablesGrow) {
    std::string text = "deny 192.0.2.0/24\n";
    for (int i = 0; i < 60000; ++i) {
        text += "deny CALL" + std::to_string(i) + "\n"; // lines 2 to 60001
    }
    for (int i = 0; i < 60000; ++i) {
        text += "allow call" + std::to_string(i) + "\n"; // the same patterns, lower case
    }
    text += "allow CALL*\nallow 192.0.2.0/24\ndeny 192.0.2.0/24\n";
    std::vector<Report> reports;
    auto set = parse(text, &reports);
    ASSERT_TRUE(reports.empty());
    EXPECT_EQ(set->count, 120004);
    EXPECT_EQ(accessJudgeName(set.get(), "call7").line, 9);
    EXPECT_FALSE(accessJudgeName(set.get(), "Call59999").allowed);
    AccessVerdict other = accessJudgeName(set.get(), "CALL60000");
    EXPECT_TRUE(other.allowed);
    EXPECT_EQ(other.line, 120002);
    EXPECT_EQ(accessJudgeAddress(set.get(), addr("192.0.2.9")).line, 1);
}

TEST(AccessRules, OverlongLineIsOneReportAndTheNextLineStillCounts) {
    std::string text = "deny " + std::string(2000, 'x') + "\ndeny 192.0.2.1\n";
    std::vector<Report> reports;
    std::vector<AccessRule> rules;
    auto set = parse(text, &reports, 100, &rules);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0], (Report{1, "line longer than 1024 bytes", ""}));
    ASSERT_EQ(set->count, 1);
    ASSERT_EQ(rules.size(), 1u);
    EXPECT_EQ(rules[0].line, 2);
}

TEST(AccessRules, AddressVerdictsDenyWinsAndAllowClosesTheKind) {
    std::vector<Report> reports;
    auto open = parse("deny 192.0.2.128/25\ndeny N0CALL\n", &reports);
    EXPECT_TRUE(accessJudgeAddress(open.get(), addr("192.0.2.127")).allowed);
    EXPECT_FALSE(accessJudgeAddress(open.get(), addr("192.0.2.128")).allowed);
    EXPECT_FALSE(accessJudgeAddress(open.get(), addr("192.0.2.255")).allowed);
    EXPECT_EQ(accessJudgeAddress(open.get(), addr("192.0.2.200")).line, 1);
    // Callsign rules do not close the address kind.
    EXPECT_TRUE(accessJudgeAddress(open.get(), addr("203.0.113.9")).allowed);

    auto closed = parse("allow 10.0.0.0/8\ndeny 10.1.0.0/16\nallow 10.1.2.3\n", &reports);
    EXPECT_TRUE(accessJudgeAddress(closed.get(), addr("10.200.0.1")).allowed);
    EXPECT_EQ(accessJudgeAddress(closed.get(), addr("10.200.0.1")).line, 1);
    AccessVerdict denied = accessJudgeAddress(closed.get(), addr("10.1.2.3"));
    EXPECT_FALSE(denied.allowed); // deny wins over the later, narrower allow
    EXPECT_EQ(denied.line, 2);
    AccessVerdict outside = accessJudgeAddress(closed.get(), addr("11.0.0.1"));
    EXPECT_FALSE(outside.allowed);
    EXPECT_EQ(outside.line, ACCESS_NO_RULE_LINE);

    auto everything = parse("deny 0.0.0.0/0\n", &reports);
    EXPECT_FALSE(accessJudgeAddress(everything.get(), addr("127.0.0.1")).allowed);
    EXPECT_FALSE(accessJudgeAddress(everything.get(), addr("255.255.255.255")).allowed);
    EXPECT_TRUE(reports.empty());

    auto none = parse("", &reports);
    EXPECT_TRUE(accessJudgeAddress(none.get(), addr("192.0.2.1")).allowed);
    EXPECT_TRUE(accessJudgeName(none.get(), "ANY").allowed);
}

TEST(AccessRules, CallsignVerdictsIgnoreCaseAndOnlyATrailingStarIsAWildcard) {
    std::vector<Report> reports;
    auto set = parse("allow g4*\nallow *KENT*\nallow M0XYZ\ndeny G4BAD\n", &reports);
    ASSERT_TRUE(reports.empty());
    struct Row {
        const char* name;
        bool allowed;
        int line;
    } rows[] = {
        {"G4ABC", true, 1},  {"g4", true, 1},     {"G4BAD", false, 4},   {"g4bad", false, 4},
        {"G4BADX", true, 1}, {"*KENT*", true, 2}, {"*kent*-L", true, 2}, {"KENT", false, 0},
        {"M0XYZ", true, 3},  {"m0xyz", true, 3},  {"M0XYZ-1", false, 0}, {"M0XY", false, 0},
        {"", false, 0},      {"G", false, 0},
    };
    for (const Row& row : rows) {
        AccessVerdict v = accessJudgeName(set.get(), row.name);
        EXPECT_EQ(v.allowed, row.allowed) << row.name;
        EXPECT_EQ(v.line, row.line) << row.name;
    }
    auto star = parse("deny *\n", &reports);
    EXPECT_FALSE(accessJudgeName(star.get(), "").allowed);
    EXPECT_FALSE(accessJudgeName(star.get(), "ANYONE").allowed);
}

TEST(AccessRules, WhatMayBeAppendedAsACallsign) {
    EXPECT_TRUE(accessIsCallsignPattern("N0CALL", 6));
    EXPECT_TRUE(accessIsCallsignPattern("*KENT*", 6));
    EXPECT_FALSE(accessIsCallsignPattern("", 0));
    EXPECT_FALSE(accessIsCallsignPattern("A B", 3));
    EXPECT_FALSE(accessIsCallsignPattern("A#B", 3));
    EXPECT_FALSE(accessIsCallsignPattern("A\nB", 3));
    EXPECT_FALSE(accessIsCallsignPattern("192.0.2.1", 9));
    EXPECT_FALSE(accessIsCallsignPattern("\xc3\xa9", 2));
    std::string longest(ACCESS_PATTERN_MAX, 'A');
    EXPECT_TRUE(accessIsCallsignPattern(longest.c_str(), longest.size()));
    longest += 'A';
    EXPECT_FALSE(accessIsCallsignPattern(longest.c_str(), longest.size()));
}
