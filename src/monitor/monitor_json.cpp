// The JSON documents of the HTTP view. The one file that uses the JSON library: its
// exceptions (a name that is no valid UTF-8 is replaced, never thrown on) are caught here.
#include "audio/relay.h"
#include "base/app_state.h"
#include "links/links.h"
#include "monitor/monitor_view.h"
#include "stations/station.h"

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
    if (talkerHold > 0 && talkerAddress[0] != '\0') {
        talker = talkerAddress;
    }
    return {{"node", nodeName},
            {"description", nodeDescription},
            {"version", CONFSERVER_VERSION},
            {"bind", addressValue(bindAddress)},
            {"started_at", timeValue(monitorStartedAtMs())},
            {"uptime_s", (now - monitorStartedAtMs()) / 1000},
            {"capacity", capacity + 1},
            {"station_count", stationCount},
            {"talker", talker},
            {"directory_index", directoryServerIndex}};
}

json stationsPart() {
    json list = json::array();
    for (int i = 0; i < stationSet.count; ++i) {
        const StationRecord* record = stationSet.records[i];
        const StationFigures& figures = stationSet.figures[i];
        const Link* link = linkOf(record->source.sin_addr.s_addr);
        list.push_back({{"name", nameValue(record->name)},
                        {"address", record->addressText},
                        {"state", record->state == STATION_CLOSING ? "closing" : "active"},
                        {"joined_at", timeValue(figures.joinedAtMs)},
                        {"last_heard_at", timeValue(figures.lastHeardAtMs)},
                        {"idle_s", record->idleTicks},
                        {"talking", figures.talking},
                        {"relayed", figures.relayed},
                        {"firewalled", figures.firewalled},
                        {"muted", figures.muted},
                        {"rate_limited", figures.rateLimited},
                        {"link", link != nullptr},
                        {"link_host", link != nullptr ? nameValue(link->host) : json(nullptr)}});
    }
    return list;
}

// The configured links in key order: host as configured, address, state and since when.
json linksPart() {
    json list = json::array();
    for (int i = 0; i < linksCount(); ++i) {
        const Link* link = linkAt(i);
        list.push_back({{"key", link->key},
                        {"host", nameValue(link->host)},
                        {"address", addressValue(link->address)},
                        {"link", true},
                        {"link_state", linkStateName(link->state)},
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
