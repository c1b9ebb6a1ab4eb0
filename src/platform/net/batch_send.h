// Batched sends: the datagrams of one fan-out go to the kernel in one submission (io_uring),
// fire and forget. Each queued send is one send on its socket: the same bytes, and the
// sends of one socket in the order queued. Where io_uring cannot be set up each queued send
// is made at once, as a plain send.
#pragma once

#include "platform/net/winsock.h"

#include <cstdint>
#include <liburing.h>

// Opens the submission ring (WSAStartup calls it). When it cannot be opened, or the
// environment sets CONFSERVER_NO_IO_URING=1, one line on standard error says so and sends
// go one by one from then on. / Closes it (WSACleanup).
void sendBatchOpen();
void sendBatchClose();
// True while sends go through the ring.
bool sendBatchRinged();

// Starts a batch (inside one, nothing): reaps the completions of earlier batches (ignored,
// never waited for).
void sendBatchBegin();
// Queues one datagram on connected socket s (outside a batch, or without the ring: sends it
// at once). bytes must stay unchanged until sendBatchSubmit returns: the kernel reads them
// during the submission and never later (a send that cannot go at once fails rather than
// waiting). A full ring is submitted first. Inline: the fan-out queues one per station, each
// written straight into the ring's next submission entry.
void sendBatchQueue(SOCKET s, const char* bytes, int length);

namespace platform::batch {
// The batch being built: the ring's submission entries, the index of the next one, and how
// many more fit (0 outside a batch and without the ring, so a send goes at once). Every
// entry was prepared as a send when the ring was opened, and nothing else is ever queued
// (the kernel only reads entries), so a queued send fills in its socket, bytes and length.
extern io_uring_sqe* entries;
extern unsigned mask;
extern unsigned next;
extern unsigned room;
// A send that does not fit the batch being built: submits the batch so far when it is full
// and queues it in the next, or sends it at once outside a batch.
void queueSlow(SOCKET s, const char* bytes, int length);
} // namespace platform::batch

inline void sendBatchQueue(SOCKET s, const char* bytes, int length) {
    using namespace platform::batch;
    if (room == 0 || length < 0) [[unlikely]] {
        queueSlow(s, bytes, length);
        return;
    }
    --room;
    io_uring_sqe* const sqe = &entries[next++ & mask];
    sqe->fd = s;
    sqe->addr = reinterpret_cast<uintptr_t>(bytes);
    sqe->len = static_cast<unsigned>(length);
}

// Hands every queued send to the kernel in one system call; nothing queued, no call.
void sendBatchSubmit();
