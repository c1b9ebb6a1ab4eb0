// The link table: what each link is, its state and since when, and the readers of it.
#include "links/links_internal.h"
#include "monitor/monitor.h"

#include <cstring>

namespace linksinternal {

Link table[LINKS_MAX];
int count = 0;

void show(const Link* link) {
    monitorLinkShown(static_cast<int>(link - table), link->key, link->host, link->address,
                     linkStateName(link->state), link->sinceMs);
}

Link* find(uint32_t address) {
    for (int i = 0; i < count; ++i) {
        if (table[i].address == address) {
            return &table[i];
        }
    }
    return nullptr;
}

void setState(Link* link, LinkState state, const char* reason) {
    if (link->state == state) {
        return;
    }
    LinkState old = link->state;
    link->state = state;
    link->sinceMs = monitorNowMs();
    show(link);
    if (state == LinkState::Up) {
        monitorLinkUp(link->host, link->address);
    } else if (old == LinkState::Up) {
        monitorLinkDown(link->host, link->address, reason);
    }
}

} // namespace linksinternal

const Link* linkOf(uint32_t address) {
    return linksinternal::find(address);
}

int linksCount() {
    return linksinternal::count;
}

const Link* linkAt(int index) {
    return index >= 0 && index < linksinternal::count ? &linksinternal::table[index] : nullptr;
}

const char* linkStateName(LinkState state) {
    switch (state) {
    case LinkState::Up:
        return "up";
    case LinkState::Refused:
        return "refused";
    case LinkState::Linking:
        break;
    }
    return "linking";
}

void linksStop() {
    linksinternal::count = 0;
    std::memset(linksinternal::table, 0, sizeof linksinternal::table);
    monitorLinkCount(0);
}

void linksReset() {
    linksStop();
}
