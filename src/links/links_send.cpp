// The keep-alives of the links that are not up: one at start, then one every
// LINK_RETRY_TICKS ticks, from the control-port socket to the peer's port 5199.
#include "access/access.h"
#include "base/app_state.h"
#include "base/control_packets.h"
#include "links/links_internal.h"
#include "monitor/monitor.h"
#include "platform/net/winsock.h"

namespace linksinternal {

// The control-port socket is bound to the server's own address and port 5199, which is
// what the peer admits and where its answers come. An address the access rules deny now
// gets nothing, as a denied station does.
void sendKeepAlive(Link* link) {
    if (controlPortSocket == INVALID_SOCKET || keepAliveCompound == nullptr ||
        !accessJudgeAddress(accessRules(), link->address).allowed) {
        return;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(CONTROL_PORT);
    peer.sin_addr.s_addr = link->address;
    ws::sendto(controlPortSocket, reinterpret_cast<const char*>(keepAliveCompound), keepAliveLength,
               0, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    monitorKeepAliveSent();
}

} // namespace linksinternal

void linksTick(bool full) {
    using namespace linksinternal;
    for (int i = 0; i < count; ++i) {
        Link* link = &table[i];
        if (link->state == LinkState::Up || --link->retryTicks > 0) {
            continue;
        }
        link->retryTicks = LINK_RETRY_TICKS;
        // A full conference sends nothing: the peer would admit us, and its keep-alive would
        // only be refused here. The link shows the refusal until there is room.
        if (full) {
            setState(link, LinkState::Refused, nullptr);
            link->refusedSinceAttempt = false;
            continue;
        }
        // A refused link whose last attempt went unanswered is only linking again.
        if (link->state == LinkState::Refused && !link->refusedSinceAttempt) {
            setState(link, LinkState::Linking, nullptr);
        }
        link->refusedSinceAttempt = false;
        sendKeepAlive(link);
    }
}
