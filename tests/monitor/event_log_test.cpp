// The event log's records: lines on standard error, journal fields, and the choice
// between them by JOURNAL_STREAM.
#include "monitor/event_log.h"
#include "monitor/monitor.h"
#include "platform/runtime.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

namespace {

MonitorEvent stationEvent(MonitorEventKind kind, const char* name, const char* address) {
    MonitorEvent event{};
    event.kind = kind;
    event.hasStation = true;
    event.named = name != nullptr;
    std::snprintf(event.name, sizeof event.name, "%s", name != nullptr ? name : "-");
    in_addr a{};
    inet_pton(AF_INET, address, &a);
    event.address = a.s_addr;
    return event;
}

std::string line(const MonitorEvent& event) {
    char out[EVENT_JOURNAL_FIELD_SIZE];
    size_t n = eventLogLine(event, out, sizeof out);
    EXPECT_EQ(n, std::strlen(out));
    return out;
}

std::vector<std::string> fields(const MonitorEvent& event) {
    EventJournalFields f{};
    eventJournalFields(event, &f);
    return std::vector<std::string>(f.field, f.field + f.count);
}

std::vector<std::vector<std::string>> journalRecords;
int captureJournal(const struct iovec* v, int count) {
    std::vector<std::string> record;
    for (int i = 0; i < count; ++i) {
        record.emplace_back(static_cast<const char*>(v[i].iov_base), v[i].iov_len);
    }
    journalRecords.push_back(record);
    return 0;
}
std::vector<std::string> lines;
void captureLine(const char* text, size_t length) {
    lines.emplace_back(text, length);
}

} // namespace

TEST(EventLog, LinesNameTheEventTheStationAndItsAddress) {
    EXPECT_EQ(line(stationEvent(MonitorEventKind::Join, nullptr, "192.0.2.1")),
              "event join - 192.0.2.1");
    EXPECT_EQ(line(stationEvent(MonitorEventKind::Name, "*KENT*", "192.0.2.1")),
              "event name *KENT* 192.0.2.1");
    MonitorEvent talk = stationEvent(MonitorEventKind::Talk, "*KENT*", "192.0.2.1");
    for (auto [ms, text] : std::vector<std::pair<int64_t, std::string>>{
             {12500, "12.5s"}, {12449, "12.4s"}, {12450, "12.5s"}, {999, "1.0s"}, {0, "0.0s"}}) {
        talk.durationMs = ms;
        EXPECT_EQ(line(talk), "event talk *KENT* 192.0.2.1 " + text) << ms;
    }
    MonitorEvent deny = stationEvent(MonitorEventKind::Deny, nullptr, "198.51.100.7");
    deny.line = 3;
    EXPECT_EQ(line(deny), "event deny - 198.51.100.7 line 3");
    MonitorEvent clear{};
    clear.kind = MonitorEventKind::QueueClear;
    clear.drained = 312;
    EXPECT_EQ(line(clear), "event queue-clear drained 312");
    MonitorEvent start{};
    start.kind = MonitorEventKind::Start;
    EXPECT_EQ(line(start), "event start");
    start.kind = MonitorEventKind::Stop;
    EXPECT_EQ(line(start), "event stop");
    for (auto kind : {MonitorEventKind::Refuse, MonitorEventKind::Bye, MonitorEventKind::Timeout}) {
        EXPECT_EQ(line(stationEvent(kind, "A", "10.0.0.1")),
                  std::string("event ") + monitorEventName(kind) + " A 10.0.0.1");
    }
}

TEST(EventLog, ALineIsBoundedByItsBuffer) {
    MonitorEvent event = stationEvent(MonitorEventKind::Name, nullptr, "192.0.2.1");
    std::memset(event.name, 'N', sizeof event.name - 1);
    event.name[sizeof event.name - 1] = '\0';
    char small[16];
    std::memset(small, 'X', sizeof small);
    EXPECT_EQ(eventLogLine(event, small, sizeof small), 15u);
    EXPECT_STREQ(small, "event name NNNN");
    char full[EVENT_JOURNAL_FIELD_SIZE];
    EXPECT_EQ(eventLogLine(event, full, sizeof full),
              std::strlen("event name ") + sizeof event.name - 1 + std::strlen(" 192.0.2.1"));
}

TEST(EventLog, JournalFieldsCarryTheEventStationAddressAndFigures) {
    MonitorEvent talk = stationEvent(MonitorEventKind::Talk, "*KENT*", "192.0.2.1");
    talk.durationMs = 12500;
    EXPECT_EQ(fields(talk),
              (std::vector<std::string>{"MESSAGE=event talk *KENT* 192.0.2.1 12.5s", "PRIORITY=6",
                                        "SYSLOG_IDENTIFIER=confserver", "CONFSERVER_EVENT=talk",
                                        "CONFSERVER_STATION=*KENT*", "CONFSERVER_ADDRESS=192.0.2.1",
                                        "CONFSERVER_DURATION_MS=12500"}));
    MonitorEvent clear{};
    clear.kind = MonitorEventKind::QueueClear;
    clear.drained = 7;
    EXPECT_EQ(fields(clear),
              (std::vector<std::string>{"MESSAGE=event queue-clear drained 7", "PRIORITY=6",
                                        "SYSLOG_IDENTIFIER=confserver",
                                        "CONFSERVER_EVENT=queue-clear", "CONFSERVER_DRAINED=7"}));
    MonitorEvent deny = stationEvent(MonitorEventKind::Deny, "BAD", "192.0.2.9");
    deny.line = 12;
    EXPECT_EQ(fields(deny).back(), "CONFSERVER_RULE_LINE=12");
}

TEST(EventLog, JournalStreamMustNameTheDescriptorsOwnFile) {
    char path[] = "/tmp/cs-eventlog-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    struct stat st {};
    ASSERT_EQ(fstat(fd, &st), 0);
    std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    EXPECT_TRUE(eventLogStreamIsJournal(own.c_str(), fd));
    std::string otherInode = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino + 1);
    EXPECT_FALSE(eventLogStreamIsJournal(otherInode.c_str(), fd));
    for (const char* bad : {"", ":", "12", "12:", ":34", "12:34x", "x:1"}) {
        EXPECT_FALSE(eventLogStreamIsJournal(bad, fd)) << bad;
    }
    EXPECT_FALSE(eventLogStreamIsJournal(nullptr, fd));
    close(fd);
    unlink(path);
}

TEST(EventLog, RecordsGoToTheJournalOnlyWhenStandardErrorIsItsStream) {
    journalRecords.clear();
    lines.clear();
    eventLogSetJournalSink(captureJournal);
    eventLogSetLineSink(captureLine);
    struct stat st {};
    ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
    std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    MonitorEvent join = stationEvent(MonitorEventKind::Join, nullptr, "192.0.2.1");

    setenv("JOURNAL_STREAM", own.c_str(), 1);
    eventLogOpen();
    eventLogWrite(join);
    setenv("JOURNAL_STREAM", "1:1", 1); // a stream of another process's standard error
    eventLogOpen();
    eventLogWrite(join);
    unsetenv("JOURNAL_STREAM");
    eventLogOpen();
    eventLogWrite(join);
    eventLogReset();

    ASSERT_EQ(journalRecords.size(), 1u);
    EXPECT_EQ(journalRecords[0][0], "MESSAGE=event join - 192.0.2.1");
    EXPECT_EQ(journalRecords[0][3], "CONFSERVER_EVENT=join");
    EXPECT_EQ(journalRecords[0][4], "CONFSERVER_STATION=-");
    EXPECT_EQ(journalRecords[0][5], "CONFSERVER_ADDRESS=192.0.2.1");
    EXPECT_EQ(lines,
              (std::vector<std::string>{"event join - 192.0.2.1", "event join - 192.0.2.1"}));
}

namespace {

std::vector<std::string> operatorLines;
void captureOperatorLine(const char* text) {
    operatorLines.emplace_back(text);
}

// JOURNAL_STREAM naming this process's standard error, as the service manager sets it.
void standardErrorIsTheJournal() {
    struct stat st {};
    ASSERT_EQ(fstat(STDERR_FILENO, &st), 0);
    std::string own = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
    setenv("JOURNAL_STREAM", own.c_str(), 1);
}

} // namespace

TEST(EventLog, UnderTheJournalRecordsGoThroughTheLoadedLibrary) {
    lines.clear();
    operatorLines.clear();
    eventLogSetLineSink(captureLine);
    platformSetOperatorLineHook(captureOperatorLine);
    eventLogSetJournalLibrary(CONFSERVER_FAKE_JOURNAL);
    standardErrorIsTheJournal();

    eventLogOpen();
    void* fake = dlopen(CONFSERVER_FAKE_JOURNAL, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(fake, nullptr) << "the journal library was not loaded";
    auto records = reinterpret_cast<int (*)()>(dlsym(fake, "fakeJournalRecords"));
    auto last = reinterpret_cast<const char* (*)()>(dlsym(fake, "fakeJournalLast"));
    ASSERT_NE(records, nullptr);
    ASSERT_NE(last, nullptr);
    int before = records();
    eventLogWrite(stationEvent(MonitorEventKind::Name, "*KENT*", "192.0.2.1"));
    EXPECT_EQ(records(), before + 1);
    EXPECT_STREQ(last(), "MESSAGE=event name *KENT* 192.0.2.1\nPRIORITY=6\n"
                         "SYSLOG_IDENTIFIER=confserver\nCONFSERVER_EVENT=name\n"
                         "CONFSERVER_STATION=*KENT*\nCONFSERVER_ADDRESS=192.0.2.1\n");
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(operatorLines.empty());

    unsetenv("JOURNAL_STREAM");
    eventLogOpen();
    eventLogWrite(stationEvent(MonitorEventKind::Join, nullptr, "192.0.2.2"));
    EXPECT_EQ(records(), before + 1);
    EXPECT_EQ(lines, std::vector<std::string>{"event join - 192.0.2.2"});
    dlclose(fake);
    eventLogReset();
    platformSetOperatorLineHook(nullptr);
}

TEST(EventLog, AJournalLibraryThatCannotBeLoadedLeavesTheRecordsOnStandardError) {
    lines.clear();
    operatorLines.clear();
    eventLogSetLineSink(captureLine);
    platformSetOperatorLineHook(captureOperatorLine);
    eventLogSetJournalLibrary("libconfserver-absent.so.0");
    standardErrorIsTheJournal();

    eventLogOpen();
    eventLogWrite(stationEvent(MonitorEventKind::Join, nullptr, "192.0.2.1"));
    eventLogWrite(stationEvent(MonitorEventKind::Bye, "*KENT*", "192.0.2.1"));
    eventLogOpen(); // a second start tries again and says so again
    unsetenv("JOURNAL_STREAM");
    eventLogReset();
    platformSetOperatorLineHook(nullptr);

    EXPECT_EQ(lines,
              (std::vector<std::string>{"event join - 192.0.2.1", "event bye *KENT* 192.0.2.1"}));
    ASSERT_EQ(operatorLines.size(), 2u);
    const std::string& why = operatorLines[0];
    EXPECT_EQ(why.rfind("event log: cannot load libconfserver-absent.so.0: ", 0), 0u) << why;
    EXPECT_NE(why.find("; records go to standard error"), std::string::npos) << why;
}
