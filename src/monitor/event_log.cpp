#include "monitor/event_log.h"

#include "monitor/journal_library.h"
#include "platform/runtime.h"
#include "platform/stream/output_stream.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

namespace {

// Writes the line to standard error through the platform's queue: a reader that does not
// read costs lines, never the server's time.
// Each line begins with the local time (and, when standard error is the journal's stream
// because its library could not be loaded, the info priority).
void writeStandardError(const char* line, size_t length) {
    char stamped[EVENT_JOURNAL_FIELD_SIZE + 64];
    int n =
        std::snprintf(stamped, sizeof stamped, "%s", platform::journalPrefix(STDERR_FILENO, "<6>"));
    size_t used = n > 0 ? static_cast<size_t>(n) : 0;
    used += platform::formatStamp(stamped + used, sizeof stamped - used);
    size_t room = sizeof stamped - used;
    size_t copied = length < room ? length : room;
    std::memcpy(stamped + used, line, copied);
    platformErrorLine(stamped, used + copied);
}

void (*lineSink)(const char*, size_t) = writeStandardError;
// A test's journal sink; null means the journal library's own, loaded on first use.
int (*journalSink)(const struct iovec*, int) = nullptr;
JournalLibrary journalLibrary{};
const char* journalLibraryFile = JOURNAL_LIBRARY_FILE;
bool toJournal = false;
bool quiet = false;

// Dotted decimal of a network-order address.
void addressText(uint32_t address, char* out, size_t size) {
    in_addr a{};
    a.s_addr = address;
    if (inet_ntop(AF_INET, &a, out, static_cast<socklen_t>(size)) == nullptr && size > 0) {
        out[0] = '\0';
    }
}

// Appends to out at *used, bounded; a part that does not fit is cut at the end.
void append(char* out, size_t size, size_t* used, const char* format, ...)
    __attribute__((format(printf, 4, 5)));
void append(char* out, size_t size, size_t* used, const char* format, ...) {
    if (*used + 1 >= size) {
        return;
    }
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(out + *used, size - *used, format, args);
    va_end(args);
    if (n > 0) {
        *used += static_cast<size_t>(n) < size - *used ? static_cast<size_t>(n) : size - *used - 1;
    }
}

// Tenths of a second, rounded: 12499 ms is "12.5".
void secondsText(int64_t ms, char* out, size_t size) {
    int64_t tenths = (ms + 50) / 100;
    std::snprintf(out, size, "%" PRId64 ".%" PRId64, tenths / 10, tenths % 10);
}

} // namespace

const char* monitorEventName(MonitorEventKind kind) {
    switch (kind) {
    case MonitorEventKind::Join:
        return "join";
    case MonitorEventKind::Refuse:
        return "refuse";
    case MonitorEventKind::Deny:
        return "deny";
    case MonitorEventKind::Name:
        return "name";
    case MonitorEventKind::Bye:
        return "bye";
    case MonitorEventKind::Timeout:
        return "timeout";
    case MonitorEventKind::Talk:
        return "talk";
    case MonitorEventKind::QueueClear:
        return "queue-clear";
    case MonitorEventKind::Start:
        return "start";
    case MonitorEventKind::Stop:
        return "stop";
    case MonitorEventKind::RefuseSuppressed:
        return "refuse-suppressed";
    case MonitorEventKind::TalkLimit:
        return "talk-limit";
    case MonitorEventKind::Unnamed:
        return "unnamed";
    case MonitorEventKind::LinkUp:
        return "link-up";
    case MonitorEventKind::LinkDown:
        return "link-down";
    }
    return "unknown";
}

size_t eventLogLine(const MonitorEvent& event, char* out, size_t size) {
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    size_t used = 0;
    append(out, size, &used, "event %s", monitorEventName(event.kind));
    if (event.hasStation) {
        char address[INET_ADDRSTRLEN];
        addressText(event.address, address, sizeof address);
        append(out, size, &used, " %s %s", event.name, address);
    }
    if (event.kind == MonitorEventKind::Talk) {
        char seconds[32];
        secondsText(event.durationMs, seconds, sizeof seconds);
        append(out, size, &used, " %ss", seconds);
    } else if (event.kind == MonitorEventKind::QueueClear) {
        append(out, size, &used, " drained %d", event.drained);
    } else if (event.kind == MonitorEventKind::Deny && event.line > 0) {
        append(out, size, &used, " line %d", event.line);
    } else if (event.kind == MonitorEventKind::RefuseSuppressed) {
        append(out, size, &used, " %" PRIu64, event.count);
    }
    if (event.hasLink) {
        append(out, size, &used, " %s", event.link);
        if (event.kind == MonitorEventKind::LinkDown) {
            append(out, size, &used, " %s", event.reason);
        }
    }
    return used;
}

void eventJournalFields(const MonitorEvent& event, EventJournalFields* out) {
    out->count = 0;
    auto field = [out]() { return out->field[out->count++]; };
    char line[EVENT_JOURNAL_FIELD_SIZE - sizeof "MESSAGE="];
    eventLogLine(event, line, sizeof line);
    std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "MESSAGE=%s", line);
    std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "PRIORITY=6");
    std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "SYSLOG_IDENTIFIER=confserver");
    std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_EVENT=%s",
                  monitorEventName(event.kind));
    if (event.hasStation) {
        char address[INET_ADDRSTRLEN];
        addressText(event.address, address, sizeof address);
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_STATION=%s", event.name);
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_ADDRESS=%s", address);
    }
    if (event.kind == MonitorEventKind::Talk) {
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_DURATION_MS=%" PRId64,
                      event.durationMs);
    } else if (event.kind == MonitorEventKind::QueueClear) {
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_DRAINED=%d", event.drained);
    } else if (event.kind == MonitorEventKind::Deny && event.line > 0) {
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_RULE_LINE=%d", event.line);
    } else if (event.kind == MonitorEventKind::RefuseSuppressed) {
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_SUPPRESSED=%" PRIu64,
                      event.count);
    }
    if (event.hasLink) {
        char address[INET_ADDRSTRLEN];
        addressText(event.address, address, sizeof address);
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_LINK=%s", event.link);
        std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_ADDRESS=%s", address);
        if (event.kind == MonitorEventKind::LinkDown) {
            std::snprintf(field(), EVENT_JOURNAL_FIELD_SIZE, "CONFSERVER_REASON=%s", event.reason);
        }
    }
}

bool eventLogStreamIsJournal(const char* journalStream, int fd) {
    return platform::streamIsJournal(journalStream, fd);
}

void eventLogOpen() {
    toJournal = eventLogStreamIsJournal(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
    if (!toJournal || journalSink != nullptr || journalLibrary.sendv != nullptr) {
        return;
    }
    // Standard error is the journal's stream, so a line there still reaches it, as text.
    char why[256];
    if (!journalLibraryResolve(journalLibraryFile, &journalLibrary, why, sizeof why)) {
        toJournal = false;
        char text[320];
        std::snprintf(text, sizeof text, "event log: %s; records go to standard error", why);
        platformOperatorLine(text);
    }
}

void eventLogWrite(const MonitorEvent& event) {
    if (toJournal) {
        EventJournalFields fields;
        eventJournalFields(event, &fields);
        iovec vector[EVENT_JOURNAL_FIELDS_MAX];
        for (int i = 0; i < fields.count; ++i) {
            vector[i].iov_base = fields.field[i];
            vector[i].iov_len = std::strlen(fields.field[i]);
        }
        if (journalSink != nullptr) {
            journalSink(vector, fields.count);
        } else {
            journalLibrary.sendv(vector, fields.count);
        }
        return;
    }
    if (quiet) {
        return;
    }
    char line[EVENT_JOURNAL_FIELD_SIZE];
    size_t length = eventLogLine(event, line, sizeof line);
    lineSink(line, length);
}

void eventLogReset() {
    lineSink = writeStandardError;
    journalSink = nullptr;
    if (journalLibraryFile != JOURNAL_LIBRARY_FILE) {
        eventLogSetJournalLibrary(nullptr);
    }
    toJournal = false;
    quiet = false;
}

void eventLogQuietStandardError() {
    quiet = true;
}

void eventLogSetLineSink(void (*sink)(const char*, size_t)) {
    lineSink = sink != nullptr ? sink : writeStandardError;
}

void eventLogSetJournalSink(int (*sink)(const struct iovec*, int)) {
    journalSink = sink;
}

void eventLogSetJournalLibrary(const char* file) {
    journalLibraryFile = file != nullptr ? file : JOURNAL_LIBRARY_FILE;
    journalLibrary = JournalLibrary{};
}
