// Private-profile files: the read rules, writes that change one line and nothing else,
// the atomic replacement with its modes, and where bare file names resolve to.
#include "platform/profile/profile.h"
#include "platform/runtime.h"
#include "support/testutil.h"

#include <climits>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using testutil::readFile;
using testutil::TempDir;
using testutil::writeFile;

std::string get(const std::string& file, const char* section, const char* key,
                const char* defaultValue = "DEF", DWORD size = 256) {
    std::vector<char> buf(size + 1, '@');
    DWORD n = GetPrivateProfileStringA(section, key, defaultValue, buf.data(), size, file.c_str());
    EXPECT_LT(n, size);
    EXPECT_EQ(buf[n], '\0');
    EXPECT_EQ(buf[size], '@') << "written past the buffer";
    return std::string(buf.data(), n);
}

int getInt(const std::string& file, const char* section, const char* key, int defaultValue) {
    return static_cast<int>(GetPrivateProfileIntA(section, key, defaultValue, file.c_str()));
}

BOOL put(const std::string& file, const char* section, const char* key, const char* value) {
    return WritePrivateProfileStringA(section, key, value, file.c_str());
}

// The reason that the last failed write left.
std::string writeError() {
    char buf[700];
    platformProfileWriteError(buf, sizeof buf);
    return buf;
}

// Runs fn in a child process, as the user nobody when asUser is set, and gives its exit
// status: fn's result, or -1 when the child did not end within timeoutMs (it is then
// killed) or could not become nobody. A call that blocks shows as -1 instead of hanging
// the test.
int inChild(const std::function<int()>& fn, int timeoutMs, bool asNobody = false) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (asNobody) {
            struct passwd* nobody = ::getpwnam("nobody");
            uid_t uid = nobody != nullptr ? nobody->pw_uid : 65534;
            gid_t gid = nobody != nullptr ? nobody->pw_gid : 65534;
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
                ::_exit(100);
            }
        }
        ::_exit(fn());
    }
    if (pid < 0) {
        return -1;
    }
    for (int waited = 0; waited < timeoutMs; waited += 5) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) != 100 ? WEXITSTATUS(status) : -1;
        }
        ::usleep(5000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

// What platformProfileFileState says about a path, and why.
struct FileState {
    int state;
    unsigned mode;
    std::string why;
};
FileState stateOf(const std::string& path) {
    FileState found{-1, 0, ""};
    char why[256] = "untouched";
    found.state = platformProfileFileState(path.c_str(), &found.mode, why, sizeof why);
    found.why = why;
    return found;
}

mode_t modeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

ino_t inodeOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
    return st.st_ino;
}

// A file with everything a hand-edited file may hold: comments of both kinds, junk,
// binary bytes with a NUL, blank lines, duplicate keys and sections, CRLF endings.
const std::string RICH = std::string("; top comment\r\n"
                                     "junk line without equals\r\n"
                                     "orphan=before any section\r\n"
                                     "\r\n"
                                     "[Callsign]\r\n"
                                     "  User = OLD  \r\n"
                                     "user=second\r\n"
                                     "# hash=comment\r\n"
                                     "bin\x01") +
                         std::string("\0\xff", 2) +
                         std::string(" line\r\n"
                                     "desc=\tA conference\t\r\n"
                                     "; about the servers\r\n"
                                     "\r\n"
                                     "[server]\r\n"
                                     "1=one\r\n"
                                     "\r\n"
                                     "[CALLSIGN]\r\n"
                                     "valid=hidden\r\n");

TEST(ProfileRead, NamesIgnoreCaseValuesAreTrimmedFirstWins) {
    TempDir dir;
    std::string f = dir.file("rich.ini");
    writeFile(f, RICH);
    EXPECT_EQ(get(f, "callsign", "user"), "OLD");
    EXPECT_EQ(get(f, "CALLSIGN", "USER"), "OLD");
    EXPECT_EQ(get(f, " callsign ", " user "), "OLD");
    EXPECT_EQ(get(f, "callsign", "desc"), "A conference");
    EXPECT_EQ(get(f, "SERVER", "1"), "one");
    // The second [CALLSIGN] section is not looked at.
    EXPECT_EQ(get(f, "callsign", "valid"), "DEF");
    // Comments, junk and keys before the first section are not keys.
    EXPECT_EQ(get(f, "callsign", "# hash"), "DEF");
    EXPECT_EQ(get(f, "callsign", "hash"), "DEF");
    EXPECT_EQ(get(f, "", "orphan"), "DEF");
}

TEST(ProfileRead, MissingFileSectionOrKeyGiveTheDefault) {
    TempDir dir;
    std::string f = dir.file("a.ini");
    EXPECT_EQ(get(f, "callsign", "desc", "none"), "none");
    EXPECT_EQ(getInt(f, "server", "maxusers", 8), 8);
    writeFile(f, "[server]\nmaxusers=3\n");
    EXPECT_EQ(get(f, "callsign", "desc", "none"), "none");
    EXPECT_EQ(get(f, "server", "ver", "NONE"), "NONE");
    EXPECT_EQ(get(f, "server", "ver", nullptr), "");
    EXPECT_EQ(getInt(f, "server", "x1", -7), -7);
    EXPECT_EQ(getInt(f, "server", "maxusers", 8), 3);
    // A directory where the file should be reads as missing.
    EXPECT_EQ(get(dir.path(), "server", "maxusers", "d"), "d");
}

TEST(ProfileRead, QuotesCommentsAndNulBytes) {
    TempDir dir;
    std::string f = dir.file("q.ini");
    writeFile(f, std::string("\0\0\0garbage\n[s]\n", 15) + "a=\"quoted value\"\n" + "b=\"\n" +
                     "c=\"x\"y\"\n" + "d=\"inner\" text\n" + "e=  \"  padded  \"  \n" +
                     std::string("f=ab\0cd\n", 8) + "g=after nul\n" + ";h=commented\n" +
                     "h=real\n" + "[t]\n" + "k=\"\"\n");
    EXPECT_EQ(get(f, "s", "a"), "quoted value");
    EXPECT_EQ(get(f, "s", "b"), "\"");
    EXPECT_EQ(get(f, "s", "c"), "x\"y");
    EXPECT_EQ(get(f, "s", "d"), "\"inner\" text");
    EXPECT_EQ(get(f, "s", "e"), "  padded  ");
    EXPECT_EQ(get(f, "s", "f"), "ab");
    EXPECT_EQ(get(f, "s", "g"), "after nul");
    EXPECT_EQ(get(f, "s", "h"), "real");
    EXPECT_EQ(get(f, "t", "k"), "");
}

TEST(ProfileRead, BufferIsCutAndTerminated) {
    TempDir dir;
    std::string f = dir.file("b.ini");
    writeFile(f, "[callsign]\nuser=ABCDEFGHIJ\n");
    EXPECT_EQ(get(f, "callsign", "user", "x", 5), "ABCD");
    EXPECT_EQ(get(f, "callsign", "user", "x", 1), "");
    EXPECT_EQ(get(f, "callsign", "nokey", "0123456789", 4), "012");
    char buf[4] = {'@', '@', '@', '@'};
    EXPECT_EQ(GetPrivateProfileStringA("callsign", "user", "x", buf, 0, f.c_str()), 0u);
    EXPECT_EQ(buf[0], '@');
    EXPECT_EQ(GetPrivateProfileStringA(nullptr, "user", "x", buf, 4, f.c_str()), 0u);
    // A null key lists the key names, cut to the buffer with two NUL bytes at its end.
    EXPECT_EQ(GetPrivateProfileStringA("callsign", nullptr, "x", buf, 4, f.c_str()), 2u);
    EXPECT_EQ(std::string(buf, 4), std::string("us\0\0", 4));

    std::string longValue(1000, 'v');
    ASSERT_TRUE(put(f, "server", "1", longValue.c_str()));
    EXPECT_EQ(get(f, "server", "1", "", 1000), longValue.substr(0, 999));
    EXPECT_EQ(get(f, "server", "1", "", 2000), longValue);
}

TEST(ProfileRead, IntegerTakesTheLeadingDecimalNumber) {
    TempDir dir;
    std::string f = dir.file("i.ini");
    writeFile(f, "[n]\na=12abc\nb=abc\nc=-40\nd= 7\ne=\" 9\"\nf=+5\ng=\nh=- 3\ni=0x10\n"
                 "j=4294967297\nk=2147483648\nl=10000000000\nm=-2147483648\nn=1500\n");
    EXPECT_EQ(getInt(f, "n", "a", 99), 12);
    EXPECT_EQ(getInt(f, "n", "b", 99), 0);
    EXPECT_EQ(getInt(f, "n", "c", 99), -40);
    EXPECT_EQ(getInt(f, "n", "d", 99), 7);
    EXPECT_EQ(getInt(f, "n", "e", 99), 9);
    EXPECT_EQ(getInt(f, "n", "f", 99), 5);
    EXPECT_EQ(getInt(f, "n", "g", 99), 0);
    EXPECT_EQ(getInt(f, "n", "h", 99), 0);
    EXPECT_EQ(getInt(f, "n", "i", 99), 0);
    EXPECT_EQ(getInt(f, "n", "missing", 99), 99);
    EXPECT_EQ(getInt(f, "n", "missing", -1), -1);
    // Numbers beyond 32 bits wrap modulo 2^32.
    EXPECT_EQ(GetPrivateProfileIntA("n", "j", 0, f.c_str()), 1u);
    EXPECT_EQ(getInt(f, "n", "k", 0), INT_MIN);
    EXPECT_EQ(GetPrivateProfileIntA("n", "l", 0, f.c_str()), 1410065408u);
    EXPECT_EQ(getInt(f, "n", "m", 0), INT_MIN);
    EXPECT_EQ(getInt(f, "n", "n", 0), 1500);
}

TEST(ProfileRead, HugeSingleLineFile) {
    TempDir dir;
    std::string f = dir.file("huge.ini");
    std::string junk(10u << 20, 'x');
    writeFile(f, "[a]\nk=1\n" + junk + "\n[b]\nk=2\n");
    EXPECT_EQ(get(f, "a", "k"), "1");
    EXPECT_EQ(get(f, "b", "k"), "2");
    ASSERT_TRUE(put(f, "b", "k", "3"));
    EXPECT_EQ(readFile(f), "[a]\nk=1\n" + junk + "\n[b]\nk=3\n");
}

TEST(ProfileWrite, ReplacingAValueChangesOnlyItsLine) {
    TempDir dir;
    std::string f = dir.file("rich.ini");
    writeFile(f, RICH);
    ASSERT_TRUE(put(f, "CALLSIGN", "USER", "NEW"));
    std::string expected = RICH;
    expected.replace(expected.find("  User = OLD  \r\n"), 16, "  User = NEW\r\n");
    EXPECT_EQ(readFile(f), expected);
    EXPECT_EQ(get(f, "callsign", "user"), "NEW");

    // The desc line keeps its tab after '='; a value with an empty old value gets none.
    ASSERT_TRUE(put(f, "callsign", "desc", "B"));
    expected.replace(expected.find("desc=\tA conference\t\r\n"), 21, "desc=\tB\r\n");
    EXPECT_EQ(readFile(f), expected);
    ASSERT_TRUE(put(f, "callsign", "desc", ""));
    expected.replace(expected.find("desc=\tB\r\n"), 9, "desc=\r\n");
    EXPECT_EQ(readFile(f), expected);
    ASSERT_TRUE(put(f, "callsign", "desc", "C"));
    expected.replace(expected.find("desc=\r\n"), 7, "desc=C\r\n");
    EXPECT_EQ(readFile(f), expected);
}

TEST(ProfileWrite, MissingKeyGoesAfterTheSectionsLastKey) {
    TempDir dir;
    std::string f = dir.file("rich.ini");
    writeFile(f, RICH);
    ASSERT_TRUE(put(f, "callsign", "valid", "secret"));
    std::string expected = RICH;
    expected.insert(expected.find("; about the servers"), "valid=secret\r\n");
    EXPECT_EQ(readFile(f), expected);
    EXPECT_EQ(get(f, "callsign", "valid"), "secret");

    // A section without keys gets the key right after its header; LF files stay LF.
    writeFile(f, "[window]\n; position\n\n[help]\nc=0");
    ASSERT_TRUE(put(f, "window", "x1", "10"));
    EXPECT_EQ(readFile(f), "[window]\nx1=10\n; position\n\n[help]\nc=0");
    // After a last line without an ending, the line gets one.
    ASSERT_TRUE(put(f, "help", "d", "1"));
    EXPECT_EQ(readFile(f), "[window]\nx1=10\n; position\n\n[help]\nc=0\nd=1\n");
}

TEST(ProfileWrite, MissingSectionGoesAtTheEnd) {
    TempDir dir;
    std::string f = dir.file("s.ini");
    writeFile(f, "[a]\r\nk=1");
    ASSERT_TRUE(put(f, "window", "x1", "-3"));
    EXPECT_EQ(readFile(f), "[a]\r\nk=1\r\n\r\n[window]\r\nx1=-3\r\n");
    EXPECT_EQ(getInt(f, "window", "x1", 0), -3);

    writeFile(f, "[a]\nk=1\n\n");
    ASSERT_TRUE(put(f, "b", "k", "2"));
    EXPECT_EQ(readFile(f), "[a]\nk=1\n\n[b]\nk=2\n");

    // Writes go to the first of two equal sections and the first of two equal keys.
    writeFile(f, "[a]\nk=1\nK=2\n[A]\nk=3\nz=4\n");
    ASSERT_TRUE(put(f, "A", "k", "9"));
    ASSERT_TRUE(put(f, "a", "z", "8"));
    EXPECT_EQ(readFile(f), "[a]\nk=9\nK=2\nz=8\n[A]\nk=3\nz=4\n");
}

TEST(ProfileWrite, NullKeyOrValueIsRefusedAndTheFileStaysByteForByte) {
    TempDir dir;
    std::string f = dir.file("d.ini");
    const std::string original = "; c\r\n[a]\r\nx=1\r\ny=2\r\n\r\n[b]\r\nz=3\r\n\r\n[c]\r\nw=4\r\n";
    writeFile(f, original);
    const ino_t before = inodeOf(f);
    const std::string refused = f + ": no section, key or value to write";
    EXPECT_FALSE(put(f, "A", "X", nullptr));
    EXPECT_EQ(writeError(), refused);
    EXPECT_FALSE(put(f, "b", nullptr, nullptr));
    EXPECT_EQ(writeError(), refused);
    EXPECT_FALSE(put(f, "c", nullptr, "ignored"));
    EXPECT_EQ(writeError(), refused);
    EXPECT_EQ(readFile(f), original);
    EXPECT_EQ(inodeOf(f), before);
    EXPECT_EQ(get(f, "a", "x"), "1");
    EXPECT_EQ(get(f, "b", "z"), "3");
    // A refused write creates nothing either.
    EXPECT_FALSE(put(dir.file("none.ini"), "a", nullptr, nullptr));
    EXPECT_FALSE(testutil::fileExists(dir.file("none.ini")));
    EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"d.ini"});
}

TEST(ProfileWrite, RefusesWhatWouldBreakTheFile) {
    TempDir dir;
    std::string f = dir.file("r.ini");
    const std::string original = "[a]\nk=1\n";
    writeFile(f, original);
    EXPECT_FALSE(put(f, "a", "k", "two\nlines"));
    EXPECT_FALSE(put(f, "a", "k=x", "1"));
    EXPECT_FALSE(put(f, "a", " ", "1"));
    EXPECT_FALSE(put(f, "a", ";k", "1"));
    EXPECT_FALSE(put(f, "a]", "k", "1"));
    EXPECT_FALSE(put(f, "a\n", "k", "1"));
    EXPECT_FALSE(put(f, nullptr, "k", "1"));
    EXPECT_EQ(readFile(f), original);
    // A directory in place of the file is not a file to replace.
    EXPECT_FALSE(put(dir.path(), "a", "k", "1"));
}

TEST(ProfileWrite, CreatesWithMode0600AndKeepsAnExistingMode) {
    TempDir dir;
    std::string f = dir.file("new.ini");
    mode_t oldMask = ::umask(0);
    BOOL created = put(f, "callsign", "valid", "pw");
    ::umask(oldMask);
    ASSERT_TRUE(created);
    EXPECT_EQ(readFile(f), "[callsign]\nvalid=pw\n");
    EXPECT_EQ(modeOf(f), 0600u);

    ASSERT_EQ(::chmod(f.c_str(), 0644), 0);
    ino_t before = inodeOf(f);
    ASSERT_TRUE(put(f, "callsign", "valid", "pw2"));
    EXPECT_EQ(modeOf(f), 0644u);
    // The file was replaced by a rename, not rewritten in place.
    EXPECT_NE(inodeOf(f), before);
    // Writing the value it already has leaves the file alone.
    before = inodeOf(f);
    ASSERT_TRUE(put(f, "CallSign", "Valid", "pw2"));
    EXPECT_EQ(inodeOf(f), before);
    EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"new.ini"});
}

TEST(ProfileWrite, MissingDirectoriesAreCreatedWithMode0700) {
    TempDir dir;
    std::string missing = dir.file("nodir");
    mode_t oldMask = ::umask(077);
    BOOL written = put(missing + "/deeper/x.ini", "a", "k", "1");
    ::umask(oldMask);
    ASSERT_TRUE(written);
    EXPECT_EQ(readFile(missing + "/deeper/x.ini"), "[a]\nk=1\n");
    EXPECT_EQ(modeOf(missing), 0700u);
    EXPECT_EQ(modeOf(missing + "/deeper"), 0700u);
    EXPECT_EQ(modeOf(missing + "/deeper/x.ini"), 0600u);
    EXPECT_EQ(testutil::directoryEntries(missing + "/deeper"), std::vector<std::string>{"x.ini"});
}

TEST(ProfileWrite, PathThroughAFileFailsAndLeavesNothingBehind) {
    TempDir dir;
    std::string plain = dir.file("plain");
    writeFile(plain, "not a directory\n");
    EXPECT_FALSE(put(plain + "/sub/x.ini", "a", "k", "1"));
    EXPECT_EQ(readFile(plain), "not a directory\n");
    EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"plain"});
    EXPECT_NE(writeError().find(plain + "/sub/x.ini: "), std::string::npos) << writeError();
}

TEST(ProfileWrite, ThroughASymbolicLinkTheTargetChanges) {
    TempDir dir;
    std::string target = dir.file("real.ini");
    std::string link = dir.file("link.ini");
    writeFile(target, "[a]\nk=1\n");
    ASSERT_EQ(::symlink("real.ini", link.c_str()), 0);
    ASSERT_TRUE(put(link, "a", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(readFile(target), "[a]\nk=2\n");
}

TEST(ProfileWrite, LinkChainsAndDanglingLinksWriteTheTargetLoopsFail) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0755), 0);
    std::string target = dir.file("real/omvarc.ini");
    writeFile(target, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    // first -> second (relative, in another directory) -> the file.
    ASSERT_EQ(::symlink("../omvarc.ini", dir.file("real/second").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("links").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("../real/second", dir.file("links/first").c_str()), 0);
    ASSERT_EQ(::symlink("real/omvarc.ini", dir.file("omvarc.ini").c_str()), 0);
    ino_t before = inodeOf(target);
    ASSERT_TRUE(put(dir.file("links/first"), "a", "k", "2")) << writeError();
    EXPECT_EQ(readFile(target), "[a]\nk=2\n");
    EXPECT_NE(inodeOf(target), before); // replaced, not rewritten in place
    EXPECT_EQ(modeOf(target), 0640u);
    struct stat st {};
    for (const char* link : {"links/first", "real/second", "omvarc.ini"}) {
        ASSERT_EQ(::lstat(dir.file(link).c_str(), &st), 0) << link;
        EXPECT_TRUE(S_ISLNK(st.st_mode)) << link;
    }
    EXPECT_EQ(testutil::directoryEntries(dir.file("links")), std::vector<std::string>{"first"});

    // A dangling link: its target is created (mode 0600), the link stays.
    ASSERT_EQ(::symlink("made/new.ini", dir.file("dangling").c_str()), 0);
    ASSERT_TRUE(put(dir.file("dangling"), "a", "k", "3")) << writeError();
    EXPECT_EQ(readFile(dir.file("made/new.ini")), "[a]\nk=3\n");
    EXPECT_EQ(modeOf(dir.file("made/new.ini")), 0600u);
    ASSERT_EQ(::lstat(dir.file("dangling").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));

    // A loop of links is refused and leaves nothing behind.
    ASSERT_EQ(::symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.file("loop-b").c_str()), 0);
    EXPECT_FALSE(put(dir.file("loop-a"), "a", "k", "4"));
    EXPECT_NE(writeError().find("symbolic links"), std::string::npos) << writeError();
    EXPECT_EQ(stateOf(dir.file("loop-a")).state, PROFILE_FILE_UNREADABLE);
}

TEST(ProfileWrite, HardLinkedFileIsRefusedAndStaysOneFile) {
    TempDir dir;
    std::string f = dir.file("omvarc.ini");
    std::string other = dir.file("copy.ini");
    writeFile(f, "[a]\nk=1\n");
    ASSERT_EQ(::link(f.c_str(), other.c_str()), 0);
    ino_t before = inodeOf(f);
    EXPECT_FALSE(put(f, "a", "k", "2"));
    EXPECT_EQ(writeError(),
              f + ": it has 2 hard links, and replacing it would make them two files");
    EXPECT_EQ(inodeOf(f), before);
    EXPECT_EQ(inodeOf(other), before);
    EXPECT_EQ(readFile(f), "[a]\nk=1\n");
    // Reading is not affected.
    EXPECT_EQ(get(f, "a", "k"), "1");
    EXPECT_EQ(stateOf(f).state, PROFILE_FILE_READABLE);
    EXPECT_EQ(testutil::directoryEntries(dir.path()).size(), 2u);
    // With the second name gone the file is written again.
    ASSERT_EQ(::unlink(other.c_str()), 0);
    EXPECT_TRUE(put(f, "a", "k", "2"));
    EXPECT_EQ(readFile(f), "[a]\nk=2\n");
}

TEST(ProfileWrite, OwnerAndGroupAreKept) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "giving a file to another user needs root";
    }
    struct passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    TempDir dir;
    std::string f = dir.file("owned.ini");
    writeFile(f, "[a]\nk=1\n");
    ASSERT_EQ(::chown(f.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    ASSERT_TRUE(put(f, "a", "k", "2"));
    struct stat st {};
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, nobody->pw_gid);
    EXPECT_EQ(st.st_mode & 07777, 0640u);

    // A writer that may not give the file back to its owner still replaces it (the file is
    // then its own): nobody in a directory it may write, on a file of root's.
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    std::string rootsFile = dir.file("roots.ini");
    writeFile(rootsFile, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(rootsFile.c_str(), 0644), 0);
    EXPECT_EQ(inChild([&] { return put(rootsFile, "a", "k", "2") ? 0 : 1; }, 5000, true), 0);
    EXPECT_EQ(readFile(rootsFile), "[a]\nk=2\n");
    ASSERT_EQ(::stat(rootsFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

TEST(ProfileRead, ByteOrderMarkIsReadPastAndKept) {
    TempDir dir;
    const std::string mark = "\xEF\xBB\xBF";
    std::string f = dir.file("bom.ini");
    writeFile(f, mark + "[callsign]\r\ndesc=WITH MARK\r\n");
    EXPECT_EQ(get(f, "callsign", "desc", "none"), "WITH MARK");
    ASSERT_TRUE(put(f, "callsign", "desc", "CHANGED"));
    ASSERT_TRUE(put(f, "callsign", "user", "*U*"));
    EXPECT_EQ(readFile(f), mark + "[callsign]\r\ndesc=CHANGED\r\nuser=*U*\r\n");
    // A refused write leaves the mark and every other byte as they were.
    EXPECT_FALSE(put(f, "callsign", "desc", nullptr));
    EXPECT_EQ(readFile(f), mark + "[callsign]\r\ndesc=CHANGED\r\nuser=*U*\r\n");
    // A file of only the mark takes its first section right after it.
    writeFile(f, mark);
    ASSERT_TRUE(put(f, "server", "ver", "618"));
    EXPECT_EQ(readFile(f), mark + "[server]\nver=618\n");
    // Only a mark at the very start counts: elsewhere it is part of a line.
    writeFile(f, "\n" + mark + "[callsign]\ndesc=X\n");
    EXPECT_EQ(get(f, "callsign", "desc", "none"), "none");
}

TEST(ProfileFile, StateSaysWhatIsAtThePathWithoutBlocking) {
    TempDir dir;
    std::string f = dir.file("omvarc.ini");
    FileState missing = stateOf(f);
    EXPECT_EQ(missing.state, PROFILE_FILE_MISSING);
    EXPECT_EQ(missing.why, "");
    ASSERT_EQ(::symlink("nowhere.ini", dir.file("dangling").c_str()), 0);
    EXPECT_EQ(stateOf(dir.file("dangling")).state, PROFILE_FILE_MISSING);

    writeFile(f, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    FileState readable = stateOf(f);
    EXPECT_EQ(readable.state, PROFILE_FILE_READABLE);
    EXPECT_EQ(readable.mode, 0640u);
    EXPECT_EQ(readable.why, "");

    FileState directory = stateOf(dir.path());
    EXPECT_EQ(directory.state, PROFILE_FILE_UNREADABLE);
    EXPECT_EQ(directory.why, "a directory, not a regular file");
    FileState device = stateOf("/dev/null");
    EXPECT_EQ(device.state, PROFILE_FILE_UNREADABLE);
    EXPECT_EQ(device.why, "a character device, not a regular file");
    FileState throughFile = stateOf(f + "/x.ini");
    EXPECT_EQ(throughFile.state, PROFILE_FILE_UNREADABLE);
    EXPECT_EQ(throughFile.why, "Not a directory");
}

TEST(ProfileFile, FifoIsNamedNeverWaitedForNeitherReadNorWritten) {
    TempDir dir;
    std::string fifo = dir.file("omvarc.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Each call in a child, so that one that blocks shows as a failure (-1).
    EXPECT_EQ(inChild(
                  [&] {
                      FileState s = stateOf(fifo);
                      return s.state == PROFILE_FILE_UNREADABLE &&
                                     s.why == "a FIFO, not a regular file"
                                 ? 0
                                 : 1;
                  },
                  5000),
              0);
    EXPECT_EQ(
        inChild([&] { return get(fifo, "callsign", "desc", "none") == "none" ? 0 : 1; }, 5000), 0);
    EXPECT_EQ(inChild(
                  [&] {
                      bool refused = !put(fifo, "callsign", "desc", "X");
                      return refused && writeError() == fifo + ": cannot be read: a FIFO, not a "
                                                               "regular file"
                                 ? 0
                                 : 1;
                  },
                  5000),
              0);
    struct stat st {};
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"omvarc.ini"});
}

TEST(ProfileFile, ModeZeroFileIsUnreadableForItsUser) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    std::string f = dir.file("locked.ini");
    writeFile(f, "[callsign]\ndesc=SECRET\n");
    ASSERT_EQ(::chmod(f.c_str(), 0), 0);
    // Root reads every file, so the test looks as the user nobody does.
    bool asNobody = ::geteuid() == 0;
    EXPECT_EQ(inChild(
                  [&] {
                      FileState s = stateOf(f);
                      bool named =
                          s.state == PROFILE_FILE_UNREADABLE && s.why == "Permission denied";
                      bool defaulted = get(f, "callsign", "desc", "none") == "none";
                      bool refused = !put(f, "callsign", "user", "X") &&
                                     writeError() == f + ": cannot be read: Permission denied";
                      return named && defaulted && refused ? 0 : 1;
                  },
                  5000, asNobody),
              0);
    ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
    EXPECT_EQ(readFile(f), "[callsign]\ndesc=SECRET\n");
}

TEST(ProfileWrite, UnreadableFileIsLeftAlone) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0); // the directory would let nobody write
    std::string f = dir.file("locked.ini");
    writeFile(f, "[a]\nk=1\n");
    ASSERT_EQ(::chmod(f.c_str(), 0222), 0);
    // Root reads every file, so the write is tried as the user nobody.
    EXPECT_EQ(inChild([&] { return put(f, "a", "j", "2") ? 1 : 0; }, 5000, ::geteuid() == 0), 0);
    EXPECT_EQ(testutil::directoryEntries(dir.path()), std::vector<std::string>{"locked.ini"});
    ASSERT_EQ(::chmod(f.c_str(), 0600), 0);
    EXPECT_EQ(readFile(f), "[a]\nk=1\n");
}

// Saves and restores the two variables that bare names depend on.
class ProfileLocation : public ::testing::Test {
  protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", xdg_, hadXdg_);
        save("HOME", home_, hadHome_);
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", xdg_, hadXdg_);
        restore("HOME", home_, hadHome_);
        platformSetProfileFile("omvarc.ini", nullptr);
    }
    static std::string pathOf(const char* name) {
        char buf[512];
        platformProfilePath(name, buf, sizeof buf);
        return buf;
    }

  private:
    static void save(const char* name, std::string& value, bool& had) {
        const char* v = std::getenv(name);
        had = v != nullptr;
        value = had ? v : "";
    }
    static void restore(const char* name, const std::string& value, bool had) {
        if (had) {
            ::setenv(name, value.c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::string xdg_, home_;
    bool hadXdg_ = false, hadHome_ = false;
};

TEST_F(ProfileLocation, BareNamesResolveToTheConfigurationDirectory) {
    ::setenv("HOME", "/home/op", 1);
    ::setenv("XDG_CONFIG_HOME", "/cfg/", 1);
    EXPECT_EQ(pathOf("omvarc.ini"), "/cfg/omvarc.ini");
    ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
    EXPECT_EQ(pathOf("omvarc.ini"), "/cfg/omvarc.ini");
    ::setenv("XDG_CONFIG_HOME", "relative", 1);
    EXPECT_EQ(pathOf("omvarc.ini"), "/home/op/.config/omvarc.ini");
    ::unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(pathOf("omvarc.ini"), "/home/op/.config/omvarc.ini");
    EXPECT_EQ(pathOf("dir/omvarc.ini"), "dir/omvarc.ini");
    EXPECT_EQ(pathOf("/etc/x.ini"), "/etc/x.ini");

    platformSetProfileFile("omvarc.ini", "/srv/conf/server.ini");
    EXPECT_EQ(pathOf("omvarc.ini"), "/srv/conf/server.ini");
    EXPECT_EQ(pathOf("other.ini"), "/home/op/.config/other.ini");
    platformSetProfileFile("omvarc.ini", nullptr);
    EXPECT_EQ(pathOf("omvarc.ini"), "/home/op/.config/omvarc.ini");

    char small[8] = {'@', '@', '@', '@', '@', '@', '@', '@'};
    platformProfilePath("/abcdefghij", small, 5);
    EXPECT_STREQ(small, "/abc");
    EXPECT_EQ(small[5], '@');
}

TEST_F(ProfileLocation, BareNameReadsAndWritesTheResolvedFile) {
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    ASSERT_TRUE(WritePrivateProfileStringA("server", "ver", "618", "omvarc.ini"));
    EXPECT_EQ(readFile(dir.file("omvarc.ini")), "[server]\nver=618\n");

    platformSetProfileFile("omvarc.ini", dir.file("elsewhere.ini").c_str());
    ASSERT_TRUE(WritePrivateProfileStringA("server", "maxusers", "8", "omvarc.ini"));
    EXPECT_EQ(readFile(dir.file("elsewhere.ini")), "[server]\nmaxusers=8\n");
    EXPECT_EQ(GetPrivateProfileIntA("server", "maxusers", 0, "omvarc.ini"), 8u);
    char ver[8];
    GetPrivateProfileStringA("server", "ver", "NONE", ver, sizeof ver, "omvarc.ini");
    EXPECT_STREQ(ver, "NONE");
}

} // namespace
