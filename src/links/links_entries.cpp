// The [links] section as the file holds it: its keys in file order with their values, the
// key numbers that name links, and dotted addresses. Nothing here resolves a name.
#include "config/config.h"
#include "links/links_internal.h"
#include "platform/profile/profile.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

namespace {

constexpr DWORD KEY_LIST_SIZE = 4096;

// Copies text into out, cut to size - 1 bytes and terminated.
void copyCut(char* out, size_t size, const char* text) {
    size_t n = strnlen(text, size - 1);
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace

int linksReadEntries(LinkEntry* out, int max, int* more) {
    static char names[KEY_LIST_SIZE];
    GetPrivateProfileStringA("links", nullptr, "", names, KEY_LIST_SIZE, CONFIG_FILE);
    int n = 0;
    int beyond = 0;
    for (const char* key = names; *key != '\0'; key += std::strlen(key) + 1) {
        if (n == max) {
            ++beyond;
            continue;
        }
        copyCut(out[n].key, sizeof out[n].key, key);
        GetPrivateProfileStringA("links", key, "", out[n].value, sizeof out[n].value, CONFIG_FILE);
        ++n;
    }
    if (more != nullptr) {
        *more = beyond;
    }
    return n;
}

int linkKeyNumber(const char* key) {
    if (key[0] >= '1' && key[0] <= '0' + LINKS_MAX && key[1] == '\0') {
        return key[0] - '0';
    }
    return 0;
}

bool linkLiteralAddress(const char* text, uint32_t* address) {
    in_addr a{};
    if (inet_pton(AF_INET, text, &a) != 1) {
        return false;
    }
    *address = a.s_addr;
    return true;
}
