// Batched sends: the datagrams of one fan-out go to the kernel in one submission (io_uring),
// fire and forget. Each queued send is one send on its socket: the same bytes, and the
// sends of one socket in the order queued. Where io_uring cannot be set up each queued send
// is made at once, as a plain send.
#pragma once

#include "platform/net/winsock.h"

// Opens the submission ring (WSAStartup calls it). When it cannot be opened, or the
// environment sets CONFSERVER_NO_IO_URING=1, one line on standard error says so and sends
// go one by one from then on. / Closes it (WSACleanup).
void sendBatchOpen();
void sendBatchClose();
// True while sends go through the ring.
bool sendBatchRinged();

// Starts a batch: reaps the completions of earlier batches (ignored, never waited for).
void sendBatchBegin();
// Queues one datagram on connected socket s (outside a batch, or without the ring: sends it
// at once). bytes must stay unchanged until sendBatchSubmit returns: the kernel reads them
// during the submission and never later (a send that cannot go at once fails rather than
// waiting). A full batch is submitted first. Inline: the fan-out queues one per station.
void sendBatchQueue(SOCKET s, const char* bytes, int length);

namespace platform::batch {
// The sends of the batch being built, handed to the ring at submission.
struct Pending {
    SOCKET s;
    int length;
    const char* bytes;
};
inline constexpr unsigned kMaxPending = 64;
extern Pending pending[kMaxPending];
extern unsigned pendingCount;
extern bool batching; // between sendBatchBegin and sendBatchSubmit, with the ring open
// Sends one datagram at once; submits the batch so far (a full one).
void sendNow(SOCKET s, const char* bytes, int length);
void flushPending();
} // namespace platform::batch

inline void sendBatchQueue(SOCKET s, const char* bytes, int length) {
    using namespace platform::batch;
    if (!batching || length < 0) [[unlikely]] {
        sendNow(s, bytes, length);
        return;
    }
    if (pendingCount == kMaxPending) [[unlikely]] {
        flushPending();
    }
    pending[pendingCount++] = Pending{s, length, bytes};
}

// Hands every queued send to the kernel in one system call; nothing queued, no call.
void sendBatchSubmit();
