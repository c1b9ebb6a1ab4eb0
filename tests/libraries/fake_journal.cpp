// A stand-in for the journal's client library, loaded by the event log in place of the real
// one: it keeps the fields of each record it is given, so a test sees what went through the
// loaded function without writing to the machine's journal.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <cstddef>
#include <cstring>
#include <sys/uio.h>
#include <systemd/sd-journal.h>

namespace {

constexpr size_t KEPT_SIZE = 4096;
char kept[KEPT_SIZE]; // the last record's fields, one per line
int records = 0;

} // namespace

// Keeps the fields as lines ("NAME=value\n" each), cut at the buffer's end; counts the record.
int sd_journal_sendv(const struct iovec* iov, int n) {
    size_t used = 0;
    for (int i = 0; i < n; ++i) {
        size_t length = iov[i].iov_len;
        if (used + length + 2 > KEPT_SIZE) {
            break;
        }
        std::memcpy(kept + used, iov[i].iov_base, length);
        used += length;
        kept[used++] = '\n';
    }
    kept[used] = '\0';
    ++records;
    return 0;
}

// How many records came, and the last one's fields (looked up by the test with dlsym).
extern "C" int fakeJournalRecords() {
    return records;
}
extern "C" const char* fakeJournalLast() {
    return kept;
}
