// The plain-text pieces of the HTTP view: times, the listening address, the metrics.
#include "base/app_state.h"
#include "monitor/monitor_view.h"

#include <arpa/inet.h>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

void monitorTimeText(int64_t ms, char* out, size_t size) {
    time_t seconds = static_cast<time_t>(ms / 1000);
    tm utc{};
    gmtime_r(&seconds, &utc);
    std::snprintf(out, size, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(ms % 1000));
}

bool monitorParseHttpAddress(const char* text, uint32_t* address, uint16_t* port) {
    const char* colon = text != nullptr ? std::strrchr(text, ':') : nullptr;
    if (colon == nullptr || colon == text || static_cast<size_t>(colon - text) >= 16) {
        return false;
    }
    char host[16];
    std::memcpy(host, text, static_cast<size_t>(colon - text));
    host[colon - text] = '\0';
    in_addr a{};
    if (inet_pton(AF_INET, host, &a) != 1) {
        return false;
    }
    const char* digits = colon + 1;
    if (*digits == '\0' || std::strlen(digits) > 5 ||
        std::strspn(digits, "0123456789") != std::strlen(digits)) {
        return false;
    }
    long value = std::strtol(digits, nullptr, 10);
    if (value < 1 || value > 65535) {
        return false;
    }
    *address = a.s_addr;
    *port = static_cast<uint16_t>(value);
    return true;
}

namespace {

void metric(std::string* out, const char* name, const char* type, const char* help,
            uint64_t value) {
    char text[256];
    std::snprintf(text, sizeof text, "# HELP %s %s\n# TYPE %s %s\n%s %" PRIu64 "\n", name, help,
                  name, type, name, value);
    *out += text;
}

} // namespace

void monitorMetricsText(std::string* out) {
    out->clear();
    const MonitorCounters& c = monitorCounters();
    int64_t up = (monitorNowMs() - monitorStartedAtMs()) / 1000;
    uint32_t talkerAt = 0;
    metric(out, "confserver_stations", "gauge", "Stations in the conference.",
           static_cast<uint64_t>(monitorStationCount()));
    metric(out, "confserver_capacity", "gauge", "Most stations admitted at once.",
           static_cast<uint64_t>(capacity + 1));
    metric(out, "confserver_talking", "gauge", "1 while a station holds the talker lock.",
           monitorTalkerAddress(&talkerAt) ? 1u : 0u);
    metric(out, "confserver_up_seconds", "gauge", "Seconds since the server started.",
           static_cast<uint64_t>(up < 0 ? 0 : up));
    metric(out, "confserver_links", "gauge", "Links to other conference servers configured.",
           static_cast<uint64_t>(monitorLinksCount()));
    metric(out, "confserver_links_up", "gauge", "Links whose peer is a station now.",
           static_cast<uint64_t>(monitorLinksUp()));
    struct Counter {
        const char* name;
        const char* help;
        uint64_t value;
    };
    const Counter counters[] = {
        {"confserver_relayed_total", "Audio datagrams relayed.", c.relayed},
        {"confserver_copies_sent_total", "Copies of relayed datagrams sent.", c.copiesSent},
        {"confserver_firewalled_total", "Datagrams dropped by the talker lock.", c.firewalled},
        {"confserver_unregistered_total", "Audio datagrams from addresses that are no station.",
         c.unregistered},
        {"confserver_text_datagrams_total", "Text datagrams from stations (not relayed).",
         c.textDatagrams},
        {"confserver_queue_clears_total", "Times the flood guard threw the waiting audio away.",
         c.queueClears},
        {"confserver_drained_total", "Datagrams thrown away by the flood guard.", c.drained},
        {"confserver_control_errors_total", "Control packets too short to read.", c.controlErrors},
        {"confserver_joins_total", "Stations admitted.", c.joins},
        {"confserver_refusals_total", "Stations refused because the conference was full.",
         c.refusals},
        {"confserver_denials_total", "Stations denied by the access rules.", c.denials},
        {"confserver_timeouts_total", "Stations closed by the inactivity timeout.", c.timeouts},
        {"confserver_byes_total", "Stations closed by their BYE.", c.byes},
        {"confserver_beacons_total", "Standby beacons sent.", c.beacons},
        {"confserver_keepalives_total", "Keep-alive packets sent.", c.keepalives},
        {"confserver_loops_total",
         "Datagrams not relayed: identical to one relayed in the last "
         "two ticks.",
         c.loops},
        {"confserver_muted_total", "Datagrams not relayed: their station was over the talk limit.",
         c.muted},
        {"confserver_rate_limited_total", "Datagrams not relayed: beyond their station's rate.",
         c.rateLimited},
        {"confserver_refusals_suppressed_total",
         "Refused control packets that got no reply (held or over 20 a tick).",
         c.refusalsSuppressed},
    };
    for (const Counter& counter : counters) {
        metric(out, counter.name, "counter", counter.help, counter.value);
    }
}
