// What the server's steps tell the links: a peer admitted as a station (the link is up),
// its teardown (the link goes back to trying), and the refusals that show on a link.
#include "links/links_internal.h"

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

void linksStationAdmitted(uint32_t address) {
    if (Link* link = linksinternal::find(address)) {
        link->refusedSinceAttempt = false;
        linksinternal::setState(link, LinkState::Up, nullptr);
    }
}

void linksStationGone(uint32_t address, const char* reason) {
    Link* link = linksinternal::find(address);
    if (link == nullptr || link->state != LinkState::Up) {
        return;
    }
    linksinternal::setState(
        link, link->refusedSinceAttempt ? LinkState::Refused : LinkState::Linking, reason);
    link->retryTicks = 1; // the next tick tries again, then every LINK_RETRY_TICKS
}

void linksRefusedByPeer(uint32_t address) {
    if (Link* link = linksinternal::find(address)) {
        noteRefusal(link);
    }
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
