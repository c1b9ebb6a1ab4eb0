#include "links/links_check.h"

#include "links/links_internal.h"
#include "platform/stream/escape.h"

#include <arpa/inet.h>
#include <strings.h>

namespace {

constexpr int ENTRIES_CHECKED_MAX = 64;
LinkEntry entries[ENTRIES_CHECKED_MAX];

// Own for the check: the bound address when one is given, else an interface's address.
bool ownForCheck(uint32_t address, uint32_t bound) {
    if (bound != 0) {
        return linkIsOwnAddress(address, bound);
    }
    uint32_t host = ntohl(address);
    return host == 0 || host == 0xFFFFFFFFu || (host >> 28) == 0xE ||
           linkIsInterfaceAddress(address);
}

// The same peer: equal names (without regard to case) or equal dotted addresses.
bool samePeer(const LinkEntry& a, const LinkEntry& b) {
    uint32_t x = 0;
    uint32_t y = 0;
    if (linkLiteralAddress(a.value, &x) && linkLiteralAddress(b.value, &y)) {
        return x == y;
    }
    return strcasecmp(a.value, b.value) == 0;
}

// Every key of [links] as the file holds it (at most ENTRIES_CHECKED_MAX; *more: the rest).
int readEntries(int* more) {
    return linksReadEntries(entries, ENTRIES_CHECKED_MAX, more);
}

} // namespace

void linksPrintKeys(FILE* out) {
    int n = readEntries(nullptr);
    char key[escapedSize(LINK_KEY_SIZE)];
    char value[escapedSize(LINK_HOST_SIZE)];
    for (int i = 0; i < n; ++i) {
        escapeText(entries[i].key, key, sizeof key);
        escapeText(entries[i].value, value, sizeof value);
        uint32_t address = 0;
        bool name = !linkLiteralAddress(entries[i].value, &address) && entries[i].value[0] != '\0';
        std::fprintf(out, "[links] %s = %s (file%s)\n", key, value,
                     name ? "; a name, not resolved by the check" : "");
    }
}

void linksCheckConfig(uint32_t bound, void (*problem)(bool error, const char* text)) {
    int more = 0;
    int n = readEntries(&more);
    char key[escapedSize(LINK_KEY_SIZE)];
    char value[escapedSize(LINK_HOST_SIZE)];
    char text[2 * sizeof key + sizeof value + 160];
    for (int i = 0; i < n; ++i) {
        const LinkEntry& entry = entries[i];
        escapeText(entry.key, key, sizeof key);
        escapeText(entry.value, value, sizeof value);
        uint32_t address = 0;
        if (linkKeyNumber(entry.key) == 0) {
            std::snprintf(text, sizeof text,
                          "[links] %s: only keys 1 to 8 name links (at most 8 links)", key);
            problem(true, text);
            continue;
        }
        if (entry.value[0] == '\0') {
            std::snprintf(text, sizeof text, "[links] %s is empty", key);
            problem(true, text);
            continue;
        }
        if (linkLiteralAddress(entry.value, &address) && ownForCheck(address, bound)) {
            std::snprintf(text, sizeof text, "[links] %s = %s is this server's own address", key,
                          value);
            problem(true, text);
            continue;
        }
        for (int j = 0; j < i; ++j) {
            if (linkKeyNumber(entries[j].key) != 0 && samePeer(entries[j], entry)) {
                char firstKey[escapedSize(LINK_KEY_SIZE)];
                escapeText(entries[j].key, firstKey, sizeof firstKey);
                std::snprintf(text, sizeof text,
                              "[links] %s = %s links the same peer as [links] %s", key, value,
                              firstKey);
                problem(true, text);
                break;
            }
        }
    }
    if (more > 0) {
        std::snprintf(text, sizeof text, "[links]: %d more keys not shown (at most 8 links)", more);
        problem(true, text);
    }
}
