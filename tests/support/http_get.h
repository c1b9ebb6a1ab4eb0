// A plain HTTP/1.1 GET against a server's HTTP view, for tests that read its figures.
#pragma once

#include <cstdint>
#include <string>

namespace testutil {

// The body of GET path from address:port ("" when no whole response came within 3 s).
std::string httpGetBody(const std::string& address, uint16_t port, const std::string& path);
// The number after "\"key\":" in a JSON text; -1 when the key is not there.
long long jsonNumber(const std::string& json, const std::string& key);

} // namespace testutil
