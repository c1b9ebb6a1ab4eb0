// The bare relay: the server's fan-out socket pattern and nothing else, as the reference that
// the load benchmark measures the server against. One UDP socket bound on the audio port
// receives; every datagram goes, by one connected send each, to every known station other
// than its sender, on that station's own socket. No talker lock, no list text, no timers,
// no message queue: a plain poll and receive loop.
//
//   bare_relay --bind ADDRESS --first-station ADDRESS [--stations N]
//
// The stations are N consecutive addresses from --first-station, each reached on port 5198.
// "READY" is written to standard output once every socket is open; SIGTERM ends the program.
#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr uint16_t AUDIO_PORT = 5198;
constexpr int STATIONS_MAX = 64;
constexpr int BUFFER_SIZE = 3624; // the server's audio receive buffer

struct Station {
    in_addr_t address; // network order
    int socket;        // connected to the station's audio port
};

Station stations[STATIONS_MAX];
int stationCount = 26;

// Prints the usage line and exits with code 2.
[[noreturn]] void usage(const char* why) {
    std::fprintf(stderr,
                 "bare_relay: %s\nusage: bare_relay --bind ADDRESS --first-station "
                 "ADDRESS [--stations N]\n",
                 why);
    std::exit(2);
}

// An IPv4 socket address in network order.
sockaddr_in socketAddress(in_addr_t address, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = address;
    return a;
}

// A UDP socket bound to address and port; exits on failure.
int boundSocket(in_addr_t address, uint16_t port) {
    int s = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in local = socketAddress(address, port);
    if (s < 0 || bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::fprintf(stderr, "bare_relay: cannot bind: %s\n", std::strerror(errno));
        std::exit(1);
    }
    return s;
}

// Sends one datagram to every station but the sender, in station order.
void fanOut(in_addr_t sender, const char* bytes, size_t length) {
    for (int i = 0; i < stationCount; ++i) {
        if (stations[i].address != sender) {
            send(stations[i].socket, bytes, length, 0);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    in_addr_t bindAddress = INADDR_NONE;
    in_addr_t firstStation = INADDR_NONE;
    for (int i = 1; i < argc; ++i) {
        if (i + 1 >= argc) {
            usage("missing value");
        }
        if (std::strcmp(argv[i], "--bind") == 0) {
            bindAddress = inet_addr(argv[++i]);
        } else if (std::strcmp(argv[i], "--first-station") == 0) {
            firstStation = inet_addr(argv[++i]);
        } else if (std::strcmp(argv[i], "--stations") == 0) {
            stationCount = std::atoi(argv[++i]);
        } else {
            usage("unknown option");
        }
    }
    if (bindAddress == INADDR_NONE || firstStation == INADDR_NONE || stationCount < 1 ||
        stationCount > STATIONS_MAX) {
        usage("bad arguments");
    }

    int audio = boundSocket(bindAddress, AUDIO_PORT);
    for (int i = 0; i < stationCount; ++i) {
        in_addr_t address = htonl(ntohl(firstStation) + static_cast<uint32_t>(i));
        int s = boundSocket(bindAddress, 0);
        sockaddr_in peer = socketAddress(address, AUDIO_PORT);
        if (connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) != 0) {
            std::fprintf(stderr, "bare_relay: cannot connect: %s\n", std::strerror(errno));
            return 1;
        }
        stations[i] = Station{address, s};
    }
    std::printf("READY\n");
    std::fflush(stdout);

    char buffer[BUFFER_SIZE];
    for (;;) {
        pollfd p{audio, POLLIN, 0};
        if (poll(&p, 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return 1;
        }
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        ssize_t length = recvfrom(audio, buffer, sizeof buffer, 0,
                                  reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length > 0) {
            fanOut(from.sin_addr.s_addr, buffer, static_cast<size_t>(length));
        }
    }
}
