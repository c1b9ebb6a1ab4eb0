// The links as the monitor shows them: a copy of the links table, kept by the links
// subsystem's calls whenever a link changes, and the link-up and link-down events.
#include "monitor/monitor_internal.h"

#include <cstdio>
#include <cstring>

namespace {

MonitorLink links[MONITOR_MAX_LINKS]{};
int linkCount = 0;

// A link event: the host (escaped) and the address; the reason for link-down.
void linkEvent(MonitorEventKind kind, const char* host, uint32_t address, const char* reason) {
    MonitorEvent event{};
    event.kind = kind;
    event.atMs = monitorNowMs();
    event.hasLink = true;
    escapeText(host, event.link, sizeof event.link);
    event.address = address;
    event.reason = reason != nullptr ? reason : "closed";
    monitorPanelChanged();
    monitorEmit(event);
}

} // namespace

void monitorLinkCount(int count) {
    linkCount = count < 0 ? 0 : count > MONITOR_MAX_LINKS ? MONITOR_MAX_LINKS : count;
    for (int i = linkCount; i < MONITOR_MAX_LINKS; ++i) {
        links[i] = MonitorLink{};
    }
    monitorPanelChanged();
}

void monitorLinkShown(int index, int key, const char* host, uint32_t address, const char* state,
                      int64_t sinceMs) {
    if (index < 0 || index >= MONITOR_MAX_LINKS) {
        return;
    }
    MonitorLink& link = links[index];
    link.key = key;
    std::snprintf(link.host, sizeof link.host, "%s", host != nullptr ? host : "");
    link.address = address;
    std::snprintf(link.state, sizeof link.state, "%s", state != nullptr ? state : "");
    link.sinceMs = sinceMs;
    monitorPanelChanged();
}

void monitorLinkUp(const char* host, uint32_t address) {
    linkEvent(MonitorEventKind::LinkUp, host, address, nullptr);
}

void monitorLinkDown(const char* host, uint32_t address, const char* reason) {
    linkEvent(MonitorEventKind::LinkDown, host, address, reason);
}

int monitorLinksCount() {
    return linkCount;
}

const MonitorLink* monitorLinkAt(int index) {
    return index >= 0 && index < linkCount ? &links[index] : nullptr;
}

const MonitorLink* monitorLinkOf(uint32_t address) {
    for (int i = 0; i < linkCount; ++i) {
        if (links[i].address == address) {
            return &links[i];
        }
    }
    return nullptr;
}

int monitorLinksUp() {
    int up = 0;
    for (int i = 0; i < linkCount; ++i) {
        up += std::strcmp(links[i].state, "up") == 0 ? 1 : 0;
    }
    return up;
}
