// The HTTP view: an embedded HTTP server run from the server's own thread. Its epoll
// descriptor is watched by the platform's pump and the server runs it when that is ready;
// once a tick it also runs, which honours its connection timeout and the request deadline
// (whole seconds) to within a tick. Read-only: GET and HEAD of /, /api/status, /api/events
// and /metrics. Its port is its own (see http_guard.h).
#include "monitor/dashboard_page.h"
#include "monitor/http_guard.h"
#include "monitor/http_library.h"
#include "monitor/monitor_internal.h"
#include "monitor/monitor_view.h"
#include "platform/runtime.h"

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <microhttpd.h>
#include <poll.h>
#include <string>
#include <unistd.h>

namespace {

constexpr size_t CONNECTION_MEMORY = 16 * 1024; // request line and headers must fit
constexpr int HEADERS_MAX = 32;
constexpr int STREAM_CLIENTS_MAX = 8;
constexpr size_t STREAM_BUFFER_SIZE = 16 * 1024;

// One event-stream client: what is waiting to be sent to it, in a bounded buffer. A client
// whose buffer cannot take the next message is dropped (its stream ends).
struct StreamClient {
    bool used;
    bool suspended;
    bool dropped;
    MHD_Connection* connection;
    size_t length;
    char buffer[STREAM_BUFFER_SIZE];
};

MHD_Daemon* httpDaemon = nullptr;
int epollFd = -1;
StreamClient clients[STREAM_CLIENTS_MAX];
int marker; // the request context of a request seen once (its headers are in)

constexpr int KEEPALIVE_TICKS = 5;
int ticksToKeepAlive = KEEPALIVE_TICKS;
bool runWaiting = false; // a stream was resumed: its data goes out before the pump sleeps

// Runs the server's work, again while it says more is due at once (a resumed stream is
// taken up by the run after the one that saw its wake-up); at most 4 rounds.
void runDaemon() {
    runWaiting = false;
    if (httpDaemon == nullptr) {
        return;
    }
    for (int round = 0; round < 4; ++round) {
        httpLibrary.run(httpDaemon);
        MHD_UNSIGNED_LONG_LONG due = 0;
        // A client gone without a whole request is shut down and freed in the next round.
        if (!httpGuardNoticeGone() &&
            (httpLibrary.getTimeout(httpDaemon, &due) != MHD_YES || due != 0)) {
            break;
        }
    }
}

void onReady(int, short, void*) {
    runDaemon();
}

void beforeSleep(void*) {
    if (runWaiting) {
        runDaemon();
    }
}

// Appends a message to every stream client; a client that cannot take it is dropped.
void broadcast(const std::string& message) {
    for (StreamClient& client : clients) {
        if (!client.used || client.dropped) {
            continue;
        }
        if (client.length + message.size() > sizeof client.buffer) {
            client.dropped = true;
            client.length = 0;
        } else {
            std::memcpy(client.buffer + client.length, message.data(), message.size());
            client.length += message.size();
        }
        if (client.suspended) {
            client.suspended = false;
            httpLibrary.resumeConnection(client.connection);
            runWaiting = true;
        }
    }
}

void onEvent(const MonitorEvent& event) {
    std::string message;
    if (monitorEventMessage(event, &message)) {
        broadcast(message);
    }
}

void onStatus(const char* text, int64_t atMs) {
    bool any = false;
    for (const StreamClient& client : clients) {
        any = any || client.used;
    }
    std::string message;
    if (any && monitorStatusMessage(text, atMs, &message)) {
        broadcast(message);
    }
}

// The event stream's content: what the client's buffer holds, or a pause (the connection
// is suspended until a message comes), or the end when the client was dropped.
ssize_t readStream(void* context, uint64_t, char* out, size_t max) {
    auto* client = static_cast<StreamClient*>(context);
    if (client->dropped) {
        return MHD_CONTENT_READER_END_WITH_ERROR;
    }
    if (client->length == 0) {
        client->suspended = true;
        httpLibrary.suspendConnection(client->connection);
        return 0;
    }
    size_t n = client->length < max ? client->length : max;
    std::memcpy(out, client->buffer, n);
    std::memmove(client->buffer, client->buffer + n, client->length - n);
    client->length -= n;
    return static_cast<ssize_t>(n);
}

void releaseStream(void* context) {
    auto* client = static_cast<StreamClient*>(context);
    client->used = false;
    client->connection = nullptr;
    client->length = 0;
}

MHD_Result queueText(MHD_Connection* connection, unsigned status, const char* type,
                     const char* body, size_t length) {
    MHD_Response* response = httpLibrary.createResponseFromBuffer(length, const_cast<char*>(body),
                                                                  MHD_RESPMEM_MUST_COPY);
    if (response == nullptr) {
        return MHD_NO;
    }
    httpLibrary.addResponseHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, type);
    httpLibrary.addResponseHeader(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        httpLibrary.addResponseHeader(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    MHD_Result result = httpLibrary.queueResponse(connection, status, response);
    httpLibrary.destroyResponse(response);
    return result;
}

MHD_Result queueString(MHD_Connection* connection, unsigned status, const char* type,
                       const std::string& body) {
    return queueText(connection, status, type, body.data(), body.size());
}

MHD_Result openStream(MHD_Connection* connection, bool head) {
    if (head) {
        return queueText(connection, MHD_HTTP_OK, "text/event-stream", "", 0);
    }
    StreamClient* client = nullptr;
    for (StreamClient& candidate : clients) {
        if (!candidate.used) {
            client = &candidate;
            break;
        }
    }
    if (client == nullptr) {
        static const char busy[] = "too many event-stream clients\n";
        return queueText(connection, MHD_HTTP_SERVICE_UNAVAILABLE, "text/plain", busy,
                         sizeof busy - 1);
    }
    static const char hello[] = "retry: 2000\n\n";
    client->used = true;
    client->suspended = false;
    client->dropped = false;
    client->connection = connection;
    std::memcpy(client->buffer, hello, sizeof hello - 1);
    client->length = sizeof hello - 1;
    MHD_Response* response = httpLibrary.createResponseFromCallback(
        MHD_SIZE_UNKNOWN, 4096, readStream, client, releaseStream);
    if (response == nullptr) {
        releaseStream(client);
        return MHD_NO;
    }
    httpLibrary.addResponseHeader(response, MHD_HTTP_HEADER_CONTENT_TYPE, "text/event-stream");
    httpLibrary.addResponseHeader(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    MHD_Result result = httpLibrary.queueResponse(connection, MHD_HTTP_OK, response);
    httpLibrary.destroyResponse(response);
    return result;
}

MHD_Result handle(void*, MHD_Connection* connection, const char* url, const char* method,
                  const char*, const char*, size_t* uploadSize, void** context) {
    if (*context == nullptr) {
        *context = &marker;
        httpGuardRequestWhole(connection);
        return MHD_YES;
    }
    if (*uploadSize != 0) {
        *uploadSize = 0; // a body is read and ignored; the answer follows at its end
        return MHD_YES;
    }
    bool head = std::strcmp(method, MHD_HTTP_METHOD_HEAD) == 0;
    if (!head && std::strcmp(method, MHD_HTTP_METHOD_GET) != 0) {
        static const char text[] = "method not allowed\n";
        return queueText(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "text/plain", text,
                         sizeof text - 1);
    }
    if (httpLibrary.getConnectionValues(connection, MHD_HEADER_KIND, nullptr, nullptr) >
        HEADERS_MAX) {
        static const char text[] = "too many header fields\n";
        return queueText(connection, MHD_HTTP_REQUEST_HEADER_FIELDS_TOO_LARGE, "text/plain", text,
                         sizeof text - 1);
    }
    if (std::strcmp(url, "/") == 0) {
        return queueText(connection, MHD_HTTP_OK, "text/html; charset=utf-8",
                         MONITOR_DASHBOARD_HTML, MONITOR_DASHBOARD_HTML_LENGTH);
    }
    if (std::strcmp(url, "/api/status") == 0) {
        std::string body;
        if (!monitorStatusJson(&body)) {
            return queueText(connection, MHD_HTTP_INTERNAL_SERVER_ERROR, "text/plain", "", 0);
        }
        return queueString(connection, MHD_HTTP_OK, "application/json", body);
    }
    if (std::strcmp(url, "/metrics") == 0) {
        std::string body;
        monitorMetricsText(&body);
        return queueString(connection, MHD_HTTP_OK, "text/plain; version=0.0.4; charset=utf-8",
                           body);
    }
    if (std::strcmp(url, "/api/events") == 0) {
        return openStream(connection, head);
    }
    static const char text[] = "not found\n";
    return queueText(connection, MHD_HTTP_NOT_FOUND, "text/plain", text, sizeof text - 1);
}

} // namespace

bool monitorHttpOpen(const char* address, char* why, size_t size) {
    uint32_t host = 0;
    uint16_t port = 0;
    if (!monitorParseHttpAddress(address, &host, &port)) {
        std::snprintf(why, size, "HTTP view: not an address and port: %s", address);
        return false;
    }
    char loadWhy[256];
    if (!httpLibraryLoad(loadWhy, sizeof loadWhy)) {
        std::snprintf(why, size, "HTTP view: %s", loadWhy);
        return false;
    }
    char listenWhy[160];
    int listenFd = httpGuardListen(host, port, listenWhy, sizeof listenWhy);
    if (listenFd < 0) {
        std::snprintf(why, size, "HTTP view: cannot listen on %s: %s", address, listenWhy);
        return false;
    }
    std::memset(clients, 0, sizeof clients);
    httpGuardReset();
    httpDaemon = httpLibrary.startDaemon(
        MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME, port, nullptr, nullptr, handle, nullptr,
        MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_CONNECTION_LIMIT, HTTP_CONNECTIONS_MAX,
        MHD_OPTION_PER_IP_CONNECTION_LIMIT, HTTP_PER_ADDRESS_MAX, MHD_OPTION_CONNECTION_TIMEOUT,
        HTTP_IDLE_TIMEOUT_S, MHD_OPTION_CONNECTION_MEMORY_LIMIT, CONNECTION_MEMORY,
        MHD_OPTION_NOTIFY_CONNECTION, httpGuardNotify, nullptr, MHD_OPTION_NOTIFY_COMPLETED,
        httpGuardCompleted, nullptr, MHD_OPTION_END);
    if (httpDaemon == nullptr) {
        ::close(listenFd);
        std::snprintf(why, size, "HTTP view: cannot serve on %s", address);
        return false;
    }
    const MHD_DaemonInfo* info = httpLibrary.getDaemonInfo(httpDaemon, MHD_DAEMON_INFO_EPOLL_FD);
    epollFd = info != nullptr ? info->epoll_fd : -1;
    if (epollFd < 0) {
        httpLibrary.stopDaemon(httpDaemon);
        httpDaemon = nullptr;
        std::snprintf(why, size, "HTTP view: no event descriptor");
        return false;
    }
    platformWatchDescriptor(epollFd, POLLIN, onReady, nullptr);
    platformAddBeforeSleep(beforeSleep, nullptr);
    ticksToKeepAlive = KEEPALIVE_TICKS;
    monitorSetEventListener(onEvent);
    monitorSetStatusListener(onStatus);
    return true;
}

// Once a tick: timeouts; every few ticks a comment line to each stream, so that a client
// that went away is noticed (a paused stream does not watch its socket).
void monitorHttpTick() {
    if (httpDaemon == nullptr) {
        return;
    }
    if (--ticksToKeepAlive <= 0) {
        ticksToKeepAlive = KEEPALIVE_TICKS;
        broadcast(":\n\n");
    }
    httpGuardEnforce();
    runDaemon();
}

void monitorHttpClose() {
    if (httpDaemon == nullptr) {
        return;
    }
    monitorSetEventListener(nullptr);
    monitorSetStatusListener(nullptr);
    platformUnwatchDescriptor(epollFd);
    platformRemoveBeforeSleep(beforeSleep, nullptr);
    // Suspended connections must be resumed before the server stops; their streams end.
    for (StreamClient& client : clients) {
        if (client.used) {
            client.dropped = true;
            if (client.suspended) {
                client.suspended = false;
                httpLibrary.resumeConnection(client.connection);
            }
        }
    }
    httpLibrary.run(httpDaemon);
    httpLibrary.stopDaemon(httpDaemon);
    httpDaemon = nullptr;
    epollFd = -1;
    httpGuardReset();
}
