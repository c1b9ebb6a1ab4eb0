// The JSON documents of the HTTP view. The one file that uses the JSON library: its
// exceptions (a name that is no valid UTF-8 is replaced, never thrown on) are caught here.
#include "base/app_state.h"
#include "monitor/monitor_view.h"

#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

namespace {

using json = nlohmann::ordered_json;

char nodeName[64] = "";
char nodeDescription[64] = "";

json timeValue(int64_t ms) {
    char text[40];
    monitorTimeText(ms, text, sizeof text);
    return text;
}

json addressValue(uint32_t address) {
    char text[INET_ADDRSTRLEN] = "";
    in_addr a{};
    a.s_addr = address;
    inet_ntop(AF_INET, &a, text, sizeof text);
    return text;
}

// A name from outside, escaped as for the status line; null for none.
json nameValue(const char* name) {
    if (name == nullptr) {
        return nullptr;
    }
    char escaped[escapedSize(255)];
    escapeText(name, escaped, sizeof escaped);
    return escaped;
}

json serverPart() {
    int64_t now = monitorNowMs();
    json talker = nullptr;
    uint32_t talkerAt = 0;
    if (monitorTalkerAddress(&talkerAt)) {
        talker = addressValue(talkerAt);
    }
    return {{"node", nodeName},
            {"description", nodeDescription},
            {"version", CONFSERVER_VERSION},
            {"bind", addressValue(bindAddress)},
            {"started_at", timeValue(monitorStartedAtMs())},
            {"uptime_s", (now - monitorStartedAtMs()) / 1000},
            {"capacity", capacity + 1},
            {"station_count", monitorStationCount()},
            {"talker", talker},
            {"directory_index", directoryServerIndex}};
}

json stationsPart() {
    json list = json::array();
    for (int i = 0; i < monitorStationCount(); ++i) {
        const MonitorStation& station = *monitorStationAt(i);
        const MonitorLink* link = monitorLinkOf(station.address);
        list.push_back({{"name", nameValue(station.named ? station.name : nullptr)},
                        {"address", addressValue(station.address)},
                        {"state", station.closing ? "closing" : "active"},
                        {"joined_at", timeValue(station.joinedAtMs)},
                        {"last_heard_at", timeValue(station.lastHeardAtMs)},
                        {"idle_s", station.idleTicks},
                        {"talking", station.talking},
                        {"relayed", station.relayed},
                        {"firewalled", station.firewalled},
                        {"muted", station.muted},
                        {"rate_limited", station.rateLimited},
                        {"link", link != nullptr},
                        {"link_host", link != nullptr ? nameValue(link->host) : json(nullptr)}});
    }
    return list;
}

// The configured links in key order: host as configured, address, state and since when.
json linksPart() {
    json list = json::array();
    for (int i = 0; i < monitorLinksCount(); ++i) {
        const MonitorLink* link = monitorLinkAt(i);
        list.push_back({{"key", link->key},
                        {"host", nameValue(link->host)},
                        {"address", addressValue(link->address)},
                        {"link", true},
                        {"link_state", link->state},
                        {"since", timeValue(link->sinceMs)}});
    }
    return list;
}

json countersPart() {
    const MonitorCounters& c = monitorCounters();
    return {{"relayed", c.relayed},
            {"copies_sent", c.copiesSent},
            {"firewalled", c.firewalled},
            {"unregistered", c.unregistered},
            {"text_datagrams", c.textDatagrams},
            {"queue_clears", c.queueClears},
            {"drained", c.drained},
            {"control_errors", c.controlErrors},
            {"joins", c.joins},
            {"refusals", c.refusals},
            {"denials", c.denials},
            {"timeouts", c.timeouts},
            {"byes", c.byes},
            {"beacons", c.beacons},
            {"keepalives", c.keepalives},
            {"loops", c.loops},
            {"muted", c.muted},
            {"rate_limited", c.rateLimited},
            {"refusals_suppressed", c.refusalsSuppressed}};
}

json spellsPart() {
    json list = json::array();
    for (int i = 0; i < monitorSpellCount(); ++i) {
        const MonitorSpell* spell = monitorSpell(i);
        list.push_back({{"name", nameValue(spell->name[0] != '\0' ? spell->name : nullptr)},
                        {"address", addressValue(spell->address)},
                        {"started_at", timeValue(spell->startedAtMs)},
                        {"duration_s", static_cast<double>(spell->durationMs) / 1000.0},
                        {"open", spell->open}});
    }
    return list;
}

// Serialises without throwing on bytes that are no UTF-8 (they become U+FFFD).
bool dump(const json& document, std::string* out) {
    try {
        *out = document.dump(-1, ' ', false, json::error_handler_t::replace);
        return true;
    } catch (const std::exception&) {
        out->clear();
        return false;
    }
}

bool message(const json& document, std::string* out) {
    std::string body;
    if (!dump(document, &body)) {
        out->clear();
        return false;
    }
    *out = "data: " + body + "\n\n";
    return true;
}

} // namespace

void monitorSetServerNames(const char* node, const char* description) {
    std::snprintf(nodeName, sizeof nodeName, "%s", node);
    std::snprintf(nodeDescription, sizeof nodeDescription, "%s", description);
}

bool monitorStatusJson(std::string* out) {
    try {
        json document = {{"server", serverPart()},
                         {"stations", stationsPart()},
                         {"links", linksPart()},
                         {"counters", countersPart()},
                         {"talk_spells", spellsPart()}};
        return dump(document, out);
    } catch (const std::exception&) {
        out->clear();
        return false;
    }
}

bool monitorStationsJson(std::string* out) {
    try {
        return dump(stationsPart(), out);
    } catch (const std::exception&) {
        out->clear();
        return false;
    }
}

bool monitorEventMessage(const MonitorEvent& event, std::string* out) {
    try {
        json document = {{"event", monitorEventName(event.kind)}, {"at", timeValue(event.atMs)}};
        if (event.hasStation) {
            document["name"] = event.named ? json(event.name) : json(nullptr);
            document["address"] = addressValue(event.address);
        }
        if (event.kind == MonitorEventKind::Talk) {
            document["duration_s"] = static_cast<double>(event.durationMs) / 1000.0;
        } else if (event.kind == MonitorEventKind::QueueClear) {
            document["drained"] = event.drained;
        } else if (event.kind == MonitorEventKind::Deny) {
            document["line"] = event.line;
        } else if (event.kind == MonitorEventKind::RefuseSuppressed) {
            document["count"] = event.count;
        }
        if (event.hasLink) {
            document["link"] = event.link;
            document["address"] = addressValue(event.address);
            if (event.kind == MonitorEventKind::LinkDown) {
                document["reason"] = event.reason;
            }
        }
        return message(document, out);
    } catch (const std::exception&) {
        out->clear();
        return false;
    }
}

bool monitorStatusMessage(const char* text, int64_t atMs, std::string* out) {
    try {
        char escaped[escapedSize(128)];
        escapeText(text, escaped, sizeof escaped);
        return message({{"event", "status"}, {"at", timeValue(atMs)}, {"text", escaped}}, out);
    } catch (const std::exception&) {
        out->clear();
        return false;
    }
}
