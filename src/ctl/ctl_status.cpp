// status: one line about the server, then one line per station as the terminal's station
// panel shows it (a link's host after a link's station), then one line per link. The parts are
// written in the order of a table, so a part for another kind of peer is one function and one entry
// more.
#include "audio/relay.h"
#include "base/app_state.h"
#include "config/config.h"
#include "ctl/ctl_internal.h"
#include "links/links.h"
#include "monitor/monitor.h"
#include "monitor/monitor_panel.h"
#include "monitor/monitor_view.h"
#include "platform/profile/profile.h"
#include "platform/stream/escape.h"
#include "platform/window/window.h"
#include "stations/station.h"
#include "stations/station_set.h"

#include <arpa/inet.h>
#include <cinttypes>
#include <cstdio>

namespace {

constexpr size_t CONFIG_TEXT_SIZE = 40; // as the server reads [callsign] user and desc

// "server *KENT* (KENT LINK) on 0.0.0.0, up 0:01:05, 2 of 9 stations, talker 192.0.2.1,
// status "cVARDE", confserver 3.68"
void serverLine(CtlAnswer* answer) {
    char node[CONFIG_TEXT_SIZE];
    char description[CONFIG_TEXT_SIZE];
    GetPrivateProfileStringA("callsign", "user", "", node, sizeof node, CONFIG_FILE);
    GetPrivateProfileStringA("callsign", "desc", "", description, sizeof description, CONFIG_FILE);
    char shownNode[escapedSize(CONFIG_TEXT_SIZE)];
    char shownDescription[escapedSize(CONFIG_TEXT_SIZE)];
    escapeText(node, shownNode, sizeof shownNode);
    escapeText(description, shownDescription, sizeof shownDescription);
    char title[128] = "";
    GetWindowTextA(mainWindow, title, static_cast<int>(sizeof title)); // the status line
    char status[escapedSize(sizeof title)];
    escapeText(title, status, sizeof status);
    char bind[INET_ADDRSTRLEN] = "";
    in_addr address{};
    address.s_addr = bindAddress;
    inet_ntop(AF_INET, &address, bind, sizeof bind);
    int64_t up = (monitorNowMs() - monitorStartedAtMs()) / 1000;
    const char* talker = talkerHold > 0 && talkerAddress[0] != '\0' ? talkerAddress : "-";
    char line[1024];
    std::snprintf(line, sizeof line,
                  "server %s (%s) on %s, up %" PRId64 ":%02d:%02d, %d of %d stations, talker %s, "
                  "status \"%s\", confserver %s",
                  shownNode[0] != '\0' ? shownNode : "-", shownDescription, bind, up / 3600,
                  static_cast<int>(up / 60 % 60), static_cast<int>(up % 60),
                  static_cast<int>(stationCount), static_cast<int>(capacity + 1), talker, status,
                  CONFSERVER_VERSION);
    ctlAnswerLine(answer, line);
}

// One line per station, in window order, exactly as the panel draws them.
void stationLines(CtlAnswer* answer) {
    char line[escapedSize(255) + 128];
    for (int i = 0; i < stationSet.count; ++i) {
        monitorPanelLine(i, line, sizeof line);
        ctlAnswerLine(answer, line);
    }
}

// One line per configured link, in key order: "link 1 peer.example.net 192.0.2.7 up since
// 2026-12-10T04:50:00.000Z".
void linkLines(CtlAnswer* answer) {
    for (int i = 0; i < linksCount(); ++i) {
        const Link* link = linkAt(i);
        char host[escapedSize(LINK_HOST_SIZE)];
        escapeText(link->host, host, sizeof host);
        char address[INET_ADDRSTRLEN] = "";
        in_addr a{};
        a.s_addr = link->address;
        inet_ntop(AF_INET, &a, address, sizeof address);
        char since[40];
        monitorTimeText(link->sinceMs, since, sizeof since);
        char line[sizeof host + 128];
        std::snprintf(line, sizeof line, "link %d %s %s %s since %s", link->key, host, address,
                      linkStateName(link->state), since);
        ctlAnswerLine(answer, line);
    }
}

using StatusPart = void (*)(CtlAnswer*);
constexpr StatusPart STATUS_PARTS[] = {serverLine, stationLines, linkLines};

} // namespace

void ctlStatus(CtlAnswer* answer) {
    for (StatusPart part : STATUS_PARTS) {
        part(answer);
    }
}
