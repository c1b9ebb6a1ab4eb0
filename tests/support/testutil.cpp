#include "testutil.h"

#include "frontend/minimised/minimised.h"
#include "platform/runtime.h"

#include <algorithm>
#include <dirent.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testutil {

void useMinimisedFrontEnd() {
    platform::setFrontEnd(minimisedFrontEnd());
    resetMinimisedFrontEnd();
}

void resetPlatform() {
    platformReset();
    useMinimisedFrontEnd();
}

std::vector<std::string> directoryEntries(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    char tmpl[] = "/tmp/confserver-test-XXXXXX";
    const char* made = mkdtemp(tmpl);
    path_ = made ? made : "/tmp";
}

TempDir::~TempDir() {
    if (path_ != "/tmp") {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

std::string copyForAnyUser(const std::string& program, const TempDir& dir) {
    std::string copy = dir.file(std::filesystem::path(program).filename().string());
    std::error_code ec;
    std::filesystem::copy_file(program, copy, std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (ec || ::chmod(dir.path().c_str(), 0755) != 0 || ::chmod(copy.c_str(), 0755) != 0) {
        return "";
    }
    return copy;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void writeFile(const std::string& path, const std::string& content) {
    // A new file gets mode 0600, as a configuration file that holds a password should (the
    // server warns at start about one that others may open).
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
}

bool fileExists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

std::vector<uint8_t> bytesOf(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

static sockaddr_in addressOf(const std::string& address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

UdpPeer::UdpPeer(const std::string& address, uint16_t port) {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) {
        return;
    }
    int one = 1;
    ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    int size = 4 << 20;
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    sockaddr_in a = addressOf(address, port);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

UdpPeer::~UdpPeer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool UdpPeer::sendTo(const std::string& address, uint16_t port, const std::vector<uint8_t>& bytes) {
    sockaddr_in a = addressOf(address, port);
    ssize_t n =
        ::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return n == static_cast<ssize_t>(bytes.size());
}

bool UdpPeer::sendTo(const std::string& address, uint16_t port, const std::string& bytes) {
    return sendTo(address, port, bytesOf(bytes));
}

bool UdpPeer::receive(std::vector<uint8_t>& bytes, int timeoutMs, std::string* fromAddress,
                      uint16_t* fromPort) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) <= 0) {
        return false;
    }
    bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) {
        bytes.clear();
        return false;
    }
    bytes.resize(static_cast<size_t>(n));
    if (fromAddress) {
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        *fromAddress = text;
    }
    if (fromPort) {
        *fromPort = ntohs(from.sin_port);
    }
    return true;
}

std::vector<std::vector<uint8_t>> UdpPeer::drain() {
    std::vector<std::vector<uint8_t>> all;
    std::vector<uint8_t> one;
    for (int i = 0; i < 100000 && receive(one, 0); ++i) {
        all.push_back(one);
    }
    return all;
}

} // namespace testutil
