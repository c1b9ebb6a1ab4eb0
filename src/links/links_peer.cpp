// What the server's steps tell the links: a peer admitted as a station (the link is up),
// its teardown (the link goes back to trying), and the refusals that show on a link.
#include "control/rtcp.h"
#include "links/links_internal.h"
#include "stations/station.h"

#include <cstring>

namespace {

// The busy text a full conference sends to a refused station's audio port, without the
// end of its text (so a changed ending still counts).
constexpr char BUSY_PREFIX[] = "oNDATA***SERVER BUSY";
constexpr int BUSY_PREFIX_LENGTH = sizeof BUSY_PREFIX - 1;

// A refusal of the last attempt: shown at once unless the peer is a station here (then the
// link stays up until that station goes).
void noteRefusal(Link* link) {
    link->refusedSinceAttempt = true;
    if (link->state != LinkState::Up) {
        linksinternal::setState(link, LinkState::Refused, nullptr);
    }
}

} // namespace

void linksStationAdmitted(const StationRecord* record) {
    if (Link* link = linksinternal::find(record->source.sin_addr.s_addr)) {
        link->refusedSinceAttempt = false;
        linksinternal::setState(link, LinkState::Up, nullptr);
    }
}

void linksStationGone(const StationRecord* record) {
    Link* link = linksinternal::find(record->source.sin_addr.s_addr);
    if (link == nullptr || link->state != LinkState::Up) {
        return;
    }
    // The inactivity step raises the count past its limit before it closes the window; a
    // BYE, the operator and the access rules close it as closing.
    const char* reason = record->idleTicks > INACTIVITY_LIMIT_TICKS ? "timeout"
                         : record->state == STATION_CLOSING         ? "bye"
                                                                    : "closed";
    linksinternal::setState(
        link, link->refusedSinceAttempt ? LinkState::Refused : LinkState::Linking, reason);
    link->retryTicks = 1; // the next tick tries again, then every LINK_RETRY_TICKS
}

bool linksRefusalOnControl(uint32_t address, const uint8_t* packet, int length) {
    Link* link = linksinternal::find(address);
    if (link == nullptr || !rtcpHasBye(packet, length)) {
        return false;
    }
    noteRefusal(link);
    return true;
}

void linksTextOnAudio(uint32_t address, const char* bytes, int length) {
    if (length < BUSY_PREFIX_LENGTH || std::memcmp(bytes, BUSY_PREFIX, BUSY_PREFIX_LENGTH) != 0) {
        return;
    }
    if (Link* link = linksinternal::find(address)) {
        noteRefusal(link);
    }
}

void linksRefusedHere(uint32_t address) {
    if (Link* link = linksinternal::find(address)) {
        noteRefusal(link);
    }
}
