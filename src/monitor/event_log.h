// The event log: one record per join, refusal, denial, naming, BYE, timeout, talk spell,
// queue clear, start and stop. Under systemd (JOURNAL_STREAM names standard error) each
// record goes to the journal with CONFSERVER_* fields; otherwise it is one line on
// standard error. Standard output keeps only the status lines.
#pragma once

#include "monitor/monitor_event.h"

#include <cstddef>

struct iovec;

// Chooses the journal or standard error, once per start. The journal's library is loaded
// here, the first time the journal is chosen; when it cannot be, one operator line says why
// and the records go to standard error (the journal's stream) as lines.
void eventLogOpen();
// Writes one record where eventLogOpen decided.
void eventLogWrite(const MonitorEvent& event);
// Standard error is the terminal window's: lines are dropped from now on.
void eventLogQuietStandardError();
// Back to the defaults: real sinks, standard error until eventLogOpen decides again.
void eventLogReset();

// The record as its line, without the line end: "event join - 192.0.2.1",
// "event talk *KENT* 192.0.2.1 12.5s". Bounded by size; returns the length.
size_t eventLogLine(const MonitorEvent& event, char* out, size_t size);

// The record's journal fields, "NAME=value" each: MESSAGE (the line), PRIORITY,
// SYSLOG_IDENTIFIER, CONFSERVER_EVENT, and where they apply CONFSERVER_STATION,
// CONFSERVER_ADDRESS, CONFSERVER_DURATION_MS, CONFSERVER_DRAINED, CONFSERVER_RULE_LINE,
// CONFSERVER_SUPPRESSED, CONFSERVER_LINK (the link's host), CONFSERVER_REASON (link-down).
constexpr int EVENT_JOURNAL_FIELDS_MAX = 9;
constexpr size_t EVENT_JOURNAL_FIELD_SIZE = MONITOR_ESCAPED_NAME_SIZE + 64;
struct EventJournalFields {
    int count;
    char field[EVENT_JOURNAL_FIELDS_MAX][EVENT_JOURNAL_FIELD_SIZE];
};
void eventJournalFields(const MonitorEvent& event, EventJournalFields* out);

// True when journalStream ("DEVICE:INODE", as systemd sets JOURNAL_STREAM) names the
// file that descriptor fd is open on.
bool eventLogStreamIsJournal(const char* journalStream, int fd);

// Where records go, for tests: a line sink (the line and its length, without the line
// end) replaces the writes to standard error, a journal sink replaces the library's
// sd_journal_sendv (null: the library's again). The library file can be another one (null:
// the usual one); it is loaded again at the next eventLogOpen that chooses the journal.
void eventLogSetLineSink(void (*sink)(const char* line, size_t length));
void eventLogSetJournalSink(int (*sink)(const struct iovec* fields, int count));
void eventLogSetJournalLibrary(const char* file);
