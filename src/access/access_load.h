// Reading an access file into a rule set in steps: each step reads and parses at most a
// given number of bytes (or moves a bounded number of table slots), so a file of a million
// rules never holds the server's thread for long. The set is whole only at Done.
#pragma once

#include "access/access.h"
#include "access/access_rules.h"

#include <cstddef>
#include <sys/stat.h>

constexpr size_t ACCESS_FILE_MAX_BYTES = 64u << 20; // a larger file is refused whole
constexpr size_t ACCESS_STEP_BYTES = 128u << 10;    // parsed by one step from the pump

struct AccessLoad {
    int fd = -1;
    struct stat opened {}; // the file as it was when it was opened
    size_t total = 0;      // bytes read
    bool tooLarge = false;
    bool settling = false; // every byte parsed; the tables' last growth is being moved
    AccessParser parser{};
};

enum class AccessLoadStep {
    More,    // call again
    Done,    // the set holds the file's rules (check tooLarge, leftOut and failed)
    Failed,  // a read failed; why says why, the set is not to be used
    Changed, // the file was changed in place while it was read; read it again
};

// Opens path without blocking (regular files only) and starts parsing into set (emptied),
// reporting bad lines through report. Ok when the load may go on; else the reason (why
// filled for Failed) and nothing is open.
AccessReadResult accessLoadBegin(AccessLoad* load, const char* path, AccessRuleSet* set,
                                 AccessBadLine report, void* context, char* why, size_t whySize);
// Reads and parses at most budget bytes (at least one read), or moves a bounded number of
// table slots once everything is parsed.
AccessLoadStep accessLoadStep(AccessLoad* load, size_t budget, char* why, size_t whySize);
// Closes the file of a load that is open (done or not); the set keeps what it holds.
void accessLoadClose(AccessLoad* load);
