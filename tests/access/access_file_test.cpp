// The access file on disk: read again only when it changed and no more than once a second,
// one warning per bad condition (gone, emptied, a directory, a FIFO, refused) with the last
// good rules kept, start errors, a million rules read in steps, the operator's appended
// deny, and where a relative path points.
#include "access/access.h"
#include "platform/loop/loop.h"
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "support/stderr_capture.h"
#include "support/testutil.h"

#include <arpa/inet.h>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using testutil::StderrCapture;
using testutil::TempDir;

namespace {

uint32_t addr(const char* dotted) {
    in_addr a{};
    inet_pton(AF_INET, dotted, &a);
    return a.s_addr;
}

bool denied(const char* dotted) {
    return !accessJudgeAddress(accessRules(), addr(dotted)).allowed;
}

// A clean access subsystem on a manual clock, reset again at the end.
class AccessFile : public ::testing::Test {
  protected:
    void SetUp() override {
        testutil::resetPlatform();
        accessReset();
        platformUseManualClock(5000);
        path = dir.file("rules.access");
    }
    void TearDown() override {
        accessReset();
        testutil::resetPlatform();
    }
    // One tick a second later.
    void tickAfterASecond(int count = 1) {
        for (int i = 0; i < count; ++i) {
            platformAdvanceClock(1000);
            accessTick();
        }
    }
    void start() {
        accessSetFileOverride(path.c_str());
        ASSERT_TRUE(accessStart()) << accessStartError();
    }
    // Runs the steps of a load from the pump (before each sleep) until it is done (bounded).
    void finishLoad() {
        for (int round = 0; round < 100000 && accessLoading(); ++round) {
            platform::runBeforeSleep();
        }
        ASSERT_FALSE(accessLoading());
    }
    TempDir dir;
    std::string path;
};

} // namespace

TEST_F(AccessFile, RemovedOrEmptiedFileKeepsTheLastGoodRulesWithOneWarningEach) {
    testutil::writeFile(path, "deny 192.0.2.0/24\n");
    StderrCapture err;
    start();
    ASSERT_TRUE(denied("192.0.2.9"));
    EXPECT_EQ(err.text(), "");
    std::filesystem::remove(path);
    tickAfterASecond(3);
    EXPECT_TRUE(denied("192.0.2.9"));
    EXPECT_EQ(err.count("no such file; the last good rules stay"), 1) << err.text();
    EXPECT_EQ(err.count(path), 1) << err.text();
    // It comes back: read at the next look.
    testutil::writeFile(path, "deny 198.51.100.0/24\n");
    tickAfterASecond();
    EXPECT_FALSE(denied("192.0.2.9"));
    EXPECT_TRUE(denied("198.51.100.9"));
    // Truncated, to be written again: still the rules it had, one warning.
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    tickAfterASecond(3);
    EXPECT_TRUE(denied("198.51.100.9"));
    EXPECT_EQ(err.count("empty; the last good rules stay"), 1) << err.text();
    testutil::writeFile(path, "# nobody kept out\n");
    tickAfterASecond();
    EXPECT_FALSE(denied("198.51.100.9"));
    std::filesystem::remove(path);
    tickAfterASecond(2);
    EXPECT_EQ(err.count("no such file; the last good rules stay"), 2) << err.text();
}

TEST_F(AccessFile, AFileThatCannotBeUsedAtStartIsAStartErrorNamingPathAndReason) {
    accessSetFileOverride(path.c_str());
    EXPECT_FALSE(accessStart());
    EXPECT_EQ(std::string(accessStartError()), "Access file " + path + ": no such file");
    std::filesystem::create_directory(path);
    EXPECT_FALSE(accessStart());
    EXPECT_EQ(std::string(accessStartError()), "Access file " + path + ": not a regular file");
    char why[100];
    EXPECT_FALSE(accessFileReadable(path.c_str(), why, sizeof why));
    EXPECT_STREQ(why, "not a regular file");
    EXPECT_FALSE(accessFileReadable(dir.file("none").c_str(), why, sizeof why));
    EXPECT_STREQ(why, "No such file or directory");
    std::filesystem::remove(path);
    testutil::writeFile(path, "");
    EXPECT_TRUE(accessFileReadable(path.c_str(), why, sizeof why));
    EXPECT_TRUE(accessStart()); // empty at start: no rules, nothing kept from before
    EXPECT_EQ(accessRules()->count, 0);
    // No file configured: no rules, no error.
    accessSetFileOverride(nullptr);
    EXPECT_TRUE(accessStart());
}

TEST_F(AccessFile, DirectoryOrFifoInItsPlaceKeepsTheLastGoodRulesWithOneWarningEach) {
    testutil::writeFile(path, "deny 192.0.2.0/24\n");
    StderrCapture err;
    start();
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    tickAfterASecond(3);
    EXPECT_TRUE(denied("192.0.2.9"));
    EXPECT_EQ(err.count("not a regular file; the last good rules stay"), 1) << err.text();

    std::filesystem::remove(path);
    testutil::writeFile(path, "deny 198.51.100.0/24\n");
    tickAfterASecond();
    EXPECT_FALSE(denied("192.0.2.9"));
    EXPECT_TRUE(denied("198.51.100.1"));

    // A FIFO nobody writes to: a blocking open or read would hang this test.
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    tickAfterASecond(3);
    EXPECT_TRUE(denied("198.51.100.1"));
    EXPECT_EQ(err.count("not a regular file; the last good rules stay"), 2) << err.text();
    char why[100];
    bool tooLarge = true;
    auto scratch = std::make_unique<AccessRuleSet>();
    EXPECT_EQ(
        accessReadFile(path.c_str(), scratch.get(), nullptr, nullptr, &tooLarge, why, sizeof why),
        AccessReadResult::NotRegular);
    EXPECT_EQ(scratch->count, 0);
}

TEST_F(AccessFile, ReadAgainOnlyWhenChangedAndAtMostOnceASecond) {
    testutil::writeFile(path, "deny 192.0.2.1\nbogus line\n");
    StderrCapture err;
    start();
    std::string report = "confserver: " + path + ":2: unknown word (allow or deny expected): bogus";
    EXPECT_EQ(err.count(report), 1);
    tickAfterASecond(5); // unchanged: not read, not reported again
    EXPECT_EQ(err.count(report), 1);

    testutil::writeFile(path, "deny 192.0.2.2\nbogus line\n"); // same size
    timespec times[2] = {{0, UTIME_OMIT}, {1700000000, 5}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    platformAdvanceClock(999);
    accessTick(); // less than a second since the last look
    EXPECT_TRUE(denied("192.0.2.1"));
    platformAdvanceClock(1);
    accessTick();
    EXPECT_FALSE(denied("192.0.2.1"));
    EXPECT_TRUE(denied("192.0.2.2"));
    EXPECT_EQ(err.count(report), 2) << err.text();

    // Only the size changes (the time is put back): read again too.
    testutil::writeFile(path, "deny 192.0.2.33\nbogus line\n");
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    tickAfterASecond();
    EXPECT_TRUE(denied("192.0.2.33"));

    // The operator's reload reads it at once, without waiting for the next look.
    testutil::writeFile(path, "deny 192.0.2.44\n");
    accessReloadNow();
    EXPECT_TRUE(denied("192.0.2.44"));
}

namespace {

// A file of `count` address rules, "deny 10.A.B.C" for i = 0, 1, ...; line i + 1 names the
// address of i.
std::string millionFile(int count) {
    std::string text;
    text.reserve(static_cast<size_t>(count) * 18);
    for (int i = 0; i < count; ++i) {
        text += "deny 10." + std::to_string(i >> 16 & 255) + "." + std::to_string(i >> 8 & 255) +
                "." + std::to_string(i & 255) + "\n";
    }
    return text;
}

} // namespace

TEST_F(AccessFile, AMillionRulesAreReadInStepsAndPutInForceWhole) {
    testutil::writeFile(path, "deny 192.0.2.1\n");
    StderrCapture err;
    start();
    testutil::writeFile(path, millionFile(ACCESS_MAX_RULES));
    tickAfterASecond();
    ASSERT_TRUE(accessLoading());     // 17 MB: more than one step
    EXPECT_TRUE(denied("192.0.2.1")); // the rules before stay in force meanwhile
    EXPECT_FALSE(denied("10.0.0.1"));
    finishLoad();
    tickAfterASecond();
    EXPECT_EQ(accessRules()->count, ACCESS_MAX_RULES);
    EXPECT_FALSE(denied("192.0.2.1"));
    EXPECT_TRUE(denied("10.0.0.0"));
    EXPECT_TRUE(denied("10.15.66.63")); // i = 999999, the last line
    EXPECT_EQ(accessJudgeAddress(accessRules(), addr("10.7.161.32")).line, 500001);
    EXPECT_FALSE(denied("10.15.66.64"));
    EXPECT_EQ(err.text(), "");
}

TEST_F(AccessFile, MoreRulesThanTheServerHoldsAreRefusedWhole) {
    std::string tooMany = millionFile(ACCESS_MAX_RULES + 1);
    testutil::writeFile(path, tooMany);
    accessSetFileOverride(path.c_str());
    EXPECT_FALSE(accessStart());
    EXPECT_EQ(std::string(accessStartError()),
              "Access file " + path + ": 1000001 rules, more than the 1000000 the server holds");
    EXPECT_EQ(accessRules()->count, 0);

    testutil::writeFile(path, "deny 192.0.2.1\n");
    StderrCapture err;
    start();
    testutil::writeFile(path, tooMany);
    tickAfterASecond();
    finishLoad();
    tickAfterASecond(3); // one warning, however often it is looked at
    EXPECT_TRUE(denied("192.0.2.1"));
    EXPECT_FALSE(denied("10.0.0.1"));
    EXPECT_EQ(err.text(), "confserver: " + path +
                              ": 1000001 rules, more than the 1000000 the server holds; refused, "
                              "the last good rules stay\n");
}

TEST_F(AccessFile, AppendedDenyKeepsEveryByteAndAppliesAtOnce) {
    const std::string before = "# club\r\nallow G4*\r\n\r\n  deny 10.0.0.0/8 # far away";
    testutil::writeFile(path, before);
    chmod(path.c_str(), 0640);
    start();
    ASSERT_TRUE(accessJudgeName(accessRules(), "G4ABC").allowed);
    ASSERT_TRUE(accessAppendDeny("G4ABC"));
    EXPECT_EQ(testutil::readFile(path), before + "\r\ndeny G4ABC\r\n");
    EXPECT_FALSE(accessJudgeName(accessRules(), "g4abc").allowed);
    EXPECT_TRUE(accessJudgeName(accessRules(), "G4XYZ").allowed);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // A second one after a plain line end; no doubled line end.
    testutil::writeFile(path, "allow *\n");
    ASSERT_TRUE(accessAppendDeny("N0CALL"));
    EXPECT_EQ(testutil::readFile(path), "allow *\ndeny N0CALL\n");

    // What cannot be a pattern leaves the file alone.
    for (const char* bad : {"A B", "", "192.0.2.1", "X#Y", "A\nallow *"}) {
        EXPECT_FALSE(accessAppendDeny(bad)) << bad;
    }
    EXPECT_EQ(testutil::readFile(path), "allow *\ndeny N0CALL\n");
    // So does a FIFO in its place (never opened), and no access file at all.
    std::filesystem::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_FALSE(accessAppendDeny("N0CALL"));
    accessReset();
    EXPECT_FALSE(accessAppendDeny("N0CALL"));
}

TEST_F(AccessFile, RelativePathInTheConfigurationLiesBesideItAndTheCommandLineWins) {
    std::string config = dir.file("club.ini");
    testutil::writeFile(config, "[access]\nfile=club.access\n");
    platformSetProfileFile("omvarc.ini", config.c_str());
    char resolved[512];
    ASSERT_TRUE(accessResolvePath(resolved, sizeof resolved));
    EXPECT_EQ(std::string(resolved), dir.file("club.access"));
    testutil::writeFile(config, "[access]\nfile=/srv/x.access\n");
    ASSERT_TRUE(accessResolvePath(resolved, sizeof resolved));
    EXPECT_STREQ(resolved, "/srv/x.access");
    accessSetFileOverride("given.access");
    ASSERT_TRUE(accessResolvePath(resolved, sizeof resolved));
    EXPECT_STREQ(resolved, "given.access");
    accessSetFileOverride(nullptr);
    testutil::writeFile(config, "[callsign]\nuser=X\n");
    EXPECT_FALSE(accessResolvePath(resolved, sizeof resolved));
    EXPECT_STREQ(resolved, "");
}
