// What keeps the HTTP view up under abuse: its own listening socket (never shared with
// another process), and a deadline on every connection that has not sent a whole request.
// The connection limits themselves (per address, in all) are the HTTP library's options.
#pragma once

#include <cstddef>
#include <cstdint>
#include <microhttpd.h>

constexpr unsigned HTTP_CONNECTIONS_MAX = 64;   // connections in all
constexpr unsigned HTTP_PER_ADDRESS_MAX = 4;    // connections from one address
constexpr unsigned HTTP_REQUEST_DEADLINE_S = 5; // real seconds to send a whole request
constexpr unsigned HTTP_IDLE_TIMEOUT_S = 10;    // real seconds without a byte either way

// Opens a TCP socket listening on host:port (network order host, host order port), bound
// for this process alone: SO_REUSEADDR only (Linux lets no second socket listen on a port
// that one listens on), never SO_REUSEPORT. The descriptor, or -1 with the reason (the
// system's words) in why.
int httpGuardListen(uint32_t host, uint16_t port, char* why, size_t size);

// The library's connection notifier: a connection starts waiting for its request when it
// is opened; its entry is freed when it closes.
void httpGuardNotify(void* cls, MHD_Connection* connection, void** socketContext,
                     MHD_ConnectionNotificationCode code);
// The library's request-completed notifier: a kept-alive connection waits for its next
// request from now on.
void httpGuardCompleted(void* cls, MHD_Connection* connection, void** requestContext,
                        MHD_RequestTerminationCode code);
// The request of connection is whole (its header is in): no deadline until it completes.
void httpGuardRequestWhole(MHD_Connection* connection);
// Shuts down every connection still without a whole request whose client has closed its
// side and left nothing unread: it can never finish its request. (The library, reading
// edge-triggered, misses a close that came in together with the request's first bytes, as
// it does for a connection that waited to be accepted; such a connection would hold its
// slot until its timeout.) True when one was shut down. One poll for all of them.
bool httpGuardNoticeGone();
// Shuts down every connection whose request has not come whole within
// HTTP_REQUEST_DEADLINE_S of its start (the library then closes it at its next run). True
// when one was shut down.
bool httpGuardEnforce();
// Forgets every connection (the daemon stopped).
void httpGuardReset();
