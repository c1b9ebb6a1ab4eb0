// Linked conferences: the [links] section names up to eight other conference servers. For
// each the server sends its keep-alive compound to the peer's control port at start and
// every LINK_RETRY_TICKS ticks while the peer is not a station here; the peer admits us on
// it, its keep-alives make us admit it, and from then on the peer is an ordinary station on
// each side (the link is up). The table below is fixed-size, filled once at start; the
// server's steps tell it what happens through the one-line hooks, with plain data (addresses,
// reasons), and tell the monitor what it shows.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int LINKS_MAX = 8;             // keys 1 to 8
constexpr int32_t LINK_RETRY_TICKS = 20; // as a station's keep-alive period
constexpr size_t LINK_HOST_SIZE = 256;   // the host as configured, cut to this

enum class LinkState {
    Linking, // keep-alives go out every LINK_RETRY_TICKS ticks; no answer yet
    Up,      // the peer is a station here
    Refused, // the peer (or this server, being full) refused the last attempt
};

struct Link {
    int key;                   // 1..8: the key of [links] it came from
    char host[LINK_HOST_SIZE]; // as configured (a name or a dotted address)
    uint32_t address;          // network order, resolved at start
    LinkState state;
    int64_t sinceMs;          // monitor time of the last change of state
    int32_t retryTicks;       // ticks until the next keep-alive while not up
    bool refusedSinceAttempt; // a refusal came after the last keep-alive sent
};

// --- Lifecycle (main window) -------------------------------------------------------------
// Reads [links] keys 1 to 8, resolves each host once, leaves out (with one line on standard
// error each) an empty value, a key 9 or above, a host that does not resolve, one of the
// server's own addresses, a duplicate and an address the access rules deny; then sends the
// first keep-alive to each link. Call after the listening sockets, the keep-alive compound
// and the access rules exist.
void linksStart();
// Forgets every link without any event (the server is closing: its stations go next).
void linksStop();
// Once per TIMER_TICK: each link that is not up counts down and, when due, sends the
// keep-alive compound to the peer's control port from the control-port socket; while the
// conference is full (full: more stations than the capacity) it sends nothing and shows
// the link refused.
void linksTick(bool full);

// --- Hooks (the server's steps) ----------------------------------------------------------
// The link whose peer has this address (network order), or null: no link.
const Link* linkOf(uint32_t address);
// Admission succeeded for the station at address (network order) / its teardown runs
// (reason: "timeout", "bye" or "closed"): a link's peer came up / went.
void linksStationAdmitted(uint32_t address);
void linksStationGone(uint32_t address, const char* reason);
// A BYE compound from a sender that is no station here: a link peer's refusal of our
// keep-alive, which marks the link refused (the caller then makes no station of it).
void linksRefusedByPeer(uint32_t address);
// A text datagram on the audio port: the peer's busy text marks its link refused.
void linksTextOnAudio(uint32_t address, const char* bytes, int length);
// This server refused a new sender (full): when it is a link peer, its link shows refused.
void linksRefusedHere(uint32_t address);

// --- Readers (ctl, the limits, the control handler); the monitor is told ----------------
int linksCount();
const Link* linkAt(int index); // 0 .. linksCount() - 1, in key order; null beyond
// "up", "linking" or "refused".
const char* linkStateName(LinkState state);

// Everything as at program start (tests).
void linksReset();
