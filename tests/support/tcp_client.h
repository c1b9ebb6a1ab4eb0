// TCP clients of the HTTP view from a chosen loopback source address: connect, read with
// a bound, and one GET on its own connection.
#pragma once

#include <cstdint>
#include <string>

namespace testutil {

// A blocking TCP connection from source (port chosen by the system) to address:port; -1
// when it is not made within timeoutMs.
int tcpConnectFrom(const std::string& source, const std::string& address, uint16_t port,
                   int timeoutMs = 2000);
// Reads from fd until the peer closes, until stop is seen, or until timeoutMs has passed;
// what was read. *closed (may be null) tells whether the peer closed.
std::string tcpReadFor(int fd, int timeoutMs, const std::string& stop = "", bool* closed = nullptr);
// GET path over a new connection from source ("Connection: close"); the whole response,
// "" when none came within timeoutMs.
std::string httpGetFrom(const std::string& source, const std::string& address, uint16_t port,
                        const std::string& path, int timeoutMs);

} // namespace testutil
