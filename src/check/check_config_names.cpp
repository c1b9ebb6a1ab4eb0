// The names of the configuration file against the names the server reads: a misspelt
// section or key is silently the default at every start, so each one is told.
#include "check/check_config_internal.h"
#include "config/config.h"
#include "config/nearest_name.h"
#include "platform/profile/profile_names.h"
#include "platform/stream/escape.h"

#include <cstring>
#include <strings.h>

namespace {

struct KnownSection {
    const char* name;
    const char* keys[9];
    size_t keyCount;
};

// Every section and key the server reads ([links] 1 to 8 name linked conferences).
constexpr KnownSection KNOWN[] = {
    {"callsign", {"user", "desc", "valid"}, 3},
    {"server", {"1", "2", "3", "4", "maxusers", "ver"}, 6},
    {"help", {"c"}, 1},
    {"window", {"x1", "y1"}, 2},
    {"access", {"file"}, 1},
    {"monitor", {"http"}, 1},
    {"limits", {"talk", "rate", "unnamed"}, 3},
    {"links", {"1", "2", "3", "4", "5", "6", "7", "8"}, 8},
};
constexpr size_t KNOWN_COUNT = sizeof KNOWN / sizeof KNOWN[0];

struct NameCheck {
    const char* shownPath;
    const KnownSection* section; // null: the current section is not one the server reads
    bool inSection;              // a header has been seen
};

const KnownSection* findSection(const char* name) {
    for (const KnownSection& known : KNOWN) {
        if (strcasecmp(known.name, name) == 0) {
            return &known;
        }
    }
    return nullptr;
}

bool knownKey(const KnownSection& section, const char* key) {
    for (size_t i = 0; i < section.keyCount; ++i) {
        if (strcasecmp(section.keys[i], key) == 0) {
            return true;
        }
    }
    return false;
}

void visit(const char* section, const char* key, int line, void* context) {
    NameCheck* check = static_cast<NameCheck*>(context);
    char shown[escapedSize(PROFILE_NAME_SHOWN)];
    if (key == nullptr) {
        check->inSection = true;
        check->section = findSection(section);
        if (check->section != nullptr) {
            return;
        }
        const char* names[KNOWN_COUNT];
        for (size_t i = 0; i < KNOWN_COUNT; ++i) {
            names[i] = KNOWN[i].name;
        }
        const char* like = nearestName(section, names, KNOWN_COUNT);
        escapeText(section, shown, sizeof shown);
        if (like != nullptr) {
            checkProblem(false, "%s:%d: [%s]: unknown section, not read (did you mean [%s]?)",
                         check->shownPath, line, shown, like);
        } else {
            checkProblem(false, "%s:%d: [%s]: unknown section, not read", check->shownPath, line,
                         shown);
        }
        return;
    }
    escapeText(key, shown, sizeof shown);
    if (!check->inSection) {
        checkProblem(false, "%s:%d: %s: a key before any section, not read", check->shownPath, line,
                     shown);
        return;
    }
    if (check->section == nullptr || knownKey(*check->section, key)) {
        return; // the section has been told about, or the key is read
    }
    if (strcasecmp(check->section->name, "links") == 0) {
        return; // the links' own check calls every other key there an error, once
    }
    const char* like = nearestName(key, check->section->keys, check->section->keyCount);
    if (like != nullptr) {
        checkProblem(false, "%s:%d: [%s] %s: unknown key, not read (did you mean %s?)",
                     check->shownPath, line, check->section->name, shown, like);
    } else {
        checkProblem(false, "%s:%d: [%s] %s: unknown key, not read", check->shownPath, line,
                     check->section->name, shown);
    }
}

} // namespace

void checkNames(const char* shownPath) {
    NameCheck check{shownPath, nullptr, false};
    platformProfileVisitNames(CONFIG_FILE, visit, &check);
}
