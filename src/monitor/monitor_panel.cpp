#include "monitor/monitor_panel.h"

#include "monitor/monitor.h"
#include "platform/stream/escape.h"

#include <arpa/inet.h>
#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace {

size_t finish(int n, size_t size) {
    if (n < 0) {
        return 0;
    }
    return static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
}

// The dotted decimal text of a network-order IPv4 address.
void addressText(uint32_t address, char (&out)[INET_ADDRSTRLEN]) {
    out[0] = '\0';
    in_addr a{};
    a.s_addr = address;
    inet_ntop(AF_INET, &a, out, sizeof out);
}

size_t stationLine(const MonitorStation& station, char* out, size_t size) {
    char name[escapedSize(255)];
    escapeText(station.named ? station.name : "-", name, sizeof name);
    char address[INET_ADDRSTRLEN];
    addressText(station.address, address);
    const MonitorLink* link = monitorLinkOf(station.address);
    char linkHost[escapedSize(MONITOR_LINK_HOST_SIZE)] = "";
    if (link != nullptr) {
        escapeText(link->host, linkHost, sizeof linkHost);
    }
    int n = std::snprintf(out, size, "%c %-10s %-15s idle %3ds relayed %" PRIu64 "%s%s",
                          station.talking ? '*' : ' ', name, address,
                          static_cast<int>(station.idleTicks), station.relayed,
                          link != nullptr ? " link " : "", linkHost);
    return finish(n, size);
}

// "  link 1 peer.example.net 192.0.2.7 up since 12:00:03".
size_t linkLine(const MonitorLink* link, char* out, size_t size) {
    char host[escapedSize(MONITOR_LINK_HOST_SIZE)];
    escapeText(link->host, host, sizeof host);
    char address[INET_ADDRSTRLEN];
    addressText(link->address, address);
    time_t since = static_cast<time_t>(link->sinceMs / 1000);
    tm local{};
    localtime_r(&since, &local);
    int n = std::snprintf(out, size, "  link %d %-15s %-15s %-7s since %02d:%02d:%02d", link->key,
                          host, address, link->state, local.tm_hour, local.tm_min, local.tm_sec);
    return finish(n, size);
}

// The links part of the panel: a heading and one line per link, none without links.
int linkLines() {
    return monitorLinksCount() > 0 ? 1 + monitorLinksCount() : 0;
}

size_t spellLine(const MonitorSpell* spell, char* out, size_t size) {
    char name[escapedSize(MONITOR_NAME_SIZE)];
    escapeText(spell->name[0] != '\0' ? spell->name : "-", name, sizeof name);
    char address[INET_ADDRSTRLEN];
    addressText(spell->address, address);
    time_t started = static_cast<time_t>(spell->startedAtMs / 1000);
    tm local{};
    localtime_r(&started, &local);
    int64_t tenths = (spell->durationMs + 50) / 100;
    int n = std::snprintf(out, size, "  %02d:%02d:%02d %-10s %-15s %" PRId64 ".%" PRId64 "s%s",
                          local.tm_hour, local.tm_min, local.tm_sec, name, address, tenths / 10,
                          tenths % 10, spell->open ? " talking" : "");
    return finish(n, size);
}

} // namespace

int monitorPanelLineCount() {
    int spells = monitorSpellCount();
    return monitorStationCount() + linkLines() + (spells > 0 ? 1 + spells : 0);
}

size_t monitorPanelLine(int index, char* out, size_t size) {
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    int stations = monitorStationCount();
    if (index < 0) {
        return 0;
    }
    if (index < stations) {
        return stationLine(*monitorStationAt(index), out, size);
    }
    int links = linkLines();
    if (index == stations && links > 0) {
        return finish(std::snprintf(out, size, "Links"), size);
    }
    if (index < stations + links) {
        return linkLine(monitorLinkAt(index - stations - 1), out, size);
    }
    int spell = index - stations - links - 1;
    if (monitorSpellCount() == 0 || spell >= monitorSpellCount()) {
        return 0;
    }
    if (spell < 0) {
        return finish(std::snprintf(out, size, "Last talk spells"), size);
    }
    return spellLine(monitorSpell(spell), out, size);
}
