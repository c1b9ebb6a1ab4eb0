// Helpers shared by the tests: temporary directories and files, UDP test stations on
// loopback addresses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testutil {

// Installs the minimised front end with its memory of status windows and texts forgotten,
// as main installs it for a server without a terminal.
void useMinimisedFrontEnd();
// A clean platform (platformReset), then useMinimisedFrontEnd.
void resetPlatform();

// A fresh directory under /tmp, removed with its files when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

// A copy of the program (mode 0755) in dir, which is made mode 0755: a user without rights
// to the build tree (nobody, for the tests that drop root) can run it from there wherever
// the tree was cloned. Empty when the copy failed.
std::string copyForAnyUser(const std::string& program, const TempDir& dir);

std::string readFile(const std::string& path);
// Writes the file whole; a file that did not exist gets mode 0600.
void writeFile(const std::string& path, const std::string& content);
bool fileExists(const std::string& path);
// The names in a directory but "." and "..", sorted; none when it cannot be read.
std::vector<std::string> directoryEntries(const std::string& dir);

// A UDP socket bound to address:port (address in dotted form) for playing a station or
// a peer; closed when the object goes.
class UdpPeer {
  public:
    UdpPeer(const std::string& address, uint16_t port);
    ~UdpPeer();
    UdpPeer(const UdpPeer&) = delete;
    UdpPeer& operator=(const UdpPeer&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // Sends bytes to address:port.
    bool sendTo(const std::string& address, uint16_t port, const std::vector<uint8_t>& bytes);
    bool sendTo(const std::string& address, uint16_t port, const std::string& bytes);
    // Waits up to timeoutMs for one datagram; false when none came.
    bool receive(std::vector<uint8_t>& bytes, int timeoutMs, std::string* fromAddress = nullptr,
                 uint16_t* fromPort = nullptr);
    // Takes every datagram already waiting (no wait); returns them in order.
    std::vector<std::vector<uint8_t>> drain();

  private:
    int fd_ = -1;
};

std::vector<uint8_t> bytesOf(const std::string& s);

} // namespace testutil
