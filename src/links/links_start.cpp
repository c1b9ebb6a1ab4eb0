// The links at start: [links] read once, each host resolved once, the entries that cannot
// be links left out with one line each, and the first keep-alive sent to each link.
#include "access/access.h"
#include "base/address_guard.h"
#include "base/app_state.h"
#include "links/links_internal.h"
#include "monitor/monitor.h"
#include "platform/net/winsock.h"
#include "platform/runtime.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int ENTRIES_READ_MAX = 32;

// One operator line about the entry: "[links] KEY=VALUE is not linked: WHY".
void leftOut(const LinkEntry& entry, const char* why) {
    char line[LINK_KEY_SIZE + LINK_HOST_SIZE + 160];
    std::snprintf(line, sizeof line, "[links] %s=%s is not linked: %s", entry.key, entry.value,
                  why);
    platformOperatorLine(line);
}

// The entry's address: a dotted address as it is, a name through the resolver (once).
bool resolve(const char* host, uint32_t* address) {
    if (linkLiteralAddress(host, address)) {
        return true;
    }
    HOSTENT* found = ws::gethostbyname(host);
    if (found == nullptr || found->h_addr_list == nullptr || found->h_addr_list[0] == nullptr) {
        return false;
    }
    std::memcpy(address, found->h_addr_list[0], sizeof *address);
    return true;
}

// Makes a link of the entry, or says in one line why it cannot be one.
void takeEntry(const LinkEntry& entry) {
    using namespace linksinternal;
    if (linkKeyNumber(entry.key) == 0) {
        leftOut(entry, "only keys 1 to 8 name links");
        return;
    }
    if (entry.value[0] == '\0') {
        leftOut(entry, "the value is empty");
        return;
    }
    uint32_t address = 0;
    if (!resolve(entry.value, &address)) {
        leftOut(entry, "the host does not resolve");
        return;
    }
    if (linkIsOwnAddress(address, bindAddress) || addressGuardRefuses(address)) {
        leftOut(entry, "it is this server's own address");
        return;
    }
    if (const Link* other = find(address)) {
        char why[80];
        std::snprintf(why, sizeof why, "the same peer as [links] %d", other->key);
        leftOut(entry, why);
        return;
    }
    if (!accessJudgeAddress(accessRules(), address).allowed) {
        leftOut(entry, "the access rules deny its address");
        return;
    }
    Link& link = table[count++];
    link = Link{};
    link.key = linkKeyNumber(entry.key);
    std::snprintf(link.host, sizeof link.host, "%s", entry.value);
    link.address = address;
    link.state = LinkState::Linking;
    link.sinceMs = monitorNowMs();
    link.retryTicks = LINK_RETRY_TICKS;
}

} // namespace

void linksStart() {
    linksStop();
    static LinkEntry entries[ENTRIES_READ_MAX];
    int n = linksReadEntries(entries, ENTRIES_READ_MAX, nullptr);
    // Keys 1 to 8 in their order, then what is left out in file order.
    for (int key = 1; key <= LINKS_MAX; ++key) {
        for (int i = 0; i < n; ++i) {
            if (linkKeyNumber(entries[i].key) == key) {
                takeEntry(entries[i]);
                break;
            }
        }
    }
    for (int i = 0; i < n; ++i) {
        if (linkKeyNumber(entries[i].key) == 0) {
            takeEntry(entries[i]);
        }
    }
    monitorLinkCount(linksinternal::count);
    for (int i = 0; i < linksinternal::count; ++i) {
        linksinternal::show(&linksinternal::table[i]);
    }
    for (int i = 0; i < linksinternal::count; ++i) {
        linksinternal::sendKeepAlive(&linksinternal::table[i]);
    }
}
