#include "monitor/monitor_panel.h"

#include "links/links.h"
#include "monitor/monitor.h"
#include "platform/stream/escape.h"
#include "stations/station.h"

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

size_t stationLine(const StationRecord* record, char* out, size_t size) {
    char name[escapedSize(255)];
    escapeText(record->name != nullptr ? record->name : "-", name, sizeof name);
    const StationFigures* figures = monitorFiguresOf(record);
    bool talking = figures != nullptr && figures->talking;
    uint64_t relayed = figures != nullptr ? figures->relayed : 0;
    const Link* link = linkOf(record->source.sin_addr.s_addr);
    char linkHost[escapedSize(LINK_HOST_SIZE)] = "";
    if (link != nullptr) {
        escapeText(link->host, linkHost, sizeof linkHost);
    }
    int n = std::snprintf(out, size, "%c %-10s %-15s idle %3ds relayed %" PRIu64 "%s%s",
                          talking ? '*' : ' ', name, record->addressText,
                          static_cast<int>(record->idleTicks), relayed,
                          link != nullptr ? " link " : "", linkHost);
    return finish(n, size);
}

// "  link 1 peer.example.net 192.0.2.7 up since 12:00:03".
size_t linkLine(const Link* link, char* out, size_t size) {
    char host[escapedSize(LINK_HOST_SIZE)];
    escapeText(link->host, host, sizeof host);
    char address[INET_ADDRSTRLEN] = "";
    in_addr a{};
    a.s_addr = link->address;
    inet_ntop(AF_INET, &a, address, sizeof address);
    time_t since = static_cast<time_t>(link->sinceMs / 1000);
    tm local{};
    localtime_r(&since, &local);
    int n = std::snprintf(out, size, "  link %d %-15s %-15s %-7s since %02d:%02d:%02d", link->key,
                          host, address, linkStateName(link->state), local.tm_hour, local.tm_min,
                          local.tm_sec);
    return finish(n, size);
}

// The links part of the panel: a heading and one line per link, none without links.
int linkLines() {
    return linksCount() > 0 ? 1 + linksCount() : 0;
}

size_t spellLine(const MonitorSpell* spell, char* out, size_t size) {
    char name[escapedSize(MONITOR_NAME_SIZE)];
    escapeText(spell->name[0] != '\0' ? spell->name : "-", name, sizeof name);
    char address[INET_ADDRSTRLEN] = "";
    in_addr a{};
    a.s_addr = spell->address;
    inet_ntop(AF_INET, &a, address, sizeof address);
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
    return stationSet.count + linkLines() + (spells > 0 ? 1 + spells : 0);
}

size_t monitorPanelLine(int index, char* out, size_t size) {
    if (size == 0) {
        return 0;
    }
    out[0] = '\0';
    int stations = stationSet.count;
    if (index < 0) {
        return 0;
    }
    if (index < stations) {
        return stationLine(stationSet.records[index], out, size);
    }
    int links = linkLines();
    if (index == stations && links > 0) {
        return finish(std::snprintf(out, size, "Links"), size);
    }
    if (index < stations + links) {
        return linkLine(linkAt(index - stations - 1), out, size);
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

HWND monitorPanelStationWindow(int index) {
    return index >= 0 && index < stationSet.count ? stationSet.windows[index] : nullptr;
}
