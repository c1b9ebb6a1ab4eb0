// Batched sends over io_uring.
//
// Every send is queued with MSG_DONTWAIT and the ring is set up with SUBMIT_ALL, so the
// kernel issues each send inline during io_uring_enter, in queue order, and a send that a
// full socket buffer cannot take fails with EAGAIN instead of being parked for a retry: the
// caller's bytes are never read after the submission returns, so no copy of them is kept
// and nothing is allocated. A successful send posts no completion (CQE_SKIP_SUCCESS where
// the kernel has it); the completions that are posted are reaped, unread, before the next
// batch, so the completion ring never fills.
#include "platform/net/batch_send.h"

#include "platform/runtime.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <liburing.h>

namespace {

// 26 copies and the list texts of one fan-out, with room to spare; the completion ring is
// twice as long.
constexpr unsigned kRingEntries = 64;

static_assert(platform::batch::kMaxPending <= kRingEntries, "a batch fits the ring");

io_uring ring;
bool ringOpen = false;
unsigned char sqeFlags = 0; // IOSQE_CQE_SKIP_SUCCESS where available

// Marks every completion posted so far as seen (no system call).
void reap() {
    io_uring_cqe* cqes[kRingEntries];
    unsigned n;
    while ((n = io_uring_peek_batch_cqe(&ring, cqes, kRingEntries)) != 0) {
        io_uring_cq_advance(&ring, n);
    }
}

} // namespace

namespace platform::batch {

Pending pending[kMaxPending];
unsigned pendingCount = 0;
bool batching = false;

void sendNow(SOCKET s, const char* bytes, int length) {
    ws::send(s, bytes, length, 0);
}

// Writes the pending sends into the ring (emptied by the last submission, whose sends the
// kernel issued inline) and hands them to the kernel in one system call.
void flushPending() {
    const unsigned n = pendingCount;
    pendingCount = 0;
    if (n == 0) {
        return;
    }
    for (unsigned i = 0; i < n; ++i) {
        io_uring_sqe* sqe = io_uring_get_sqe(&ring);
        if (sqe == nullptr) [[unlikely]] {
            sendNow(pending[i].s, pending[i].bytes, pending[i].length);
            continue;
        }
        io_uring_prep_send(sqe, pending[i].s, pending[i].bytes,
                           static_cast<size_t>(pending[i].length), MSG_DONTWAIT | MSG_NOSIGNAL);
        sqe->flags = sqeFlags;
    }
    while (io_uring_submit(&ring) == -EINTR) {
    }
    reap();
}

} // namespace platform::batch

using platform::batch::batching;
using platform::batch::flushPending;
using platform::batch::pendingCount;

void sendBatchOpen() {
    if (ringOpen) {
        return;
    }
    const char* off = std::getenv("CONFSERVER_NO_IO_URING");
    if (off != nullptr && std::strcmp(off, "1") == 0) {
        platformOperatorLine("io_uring is off (CONFSERVER_NO_IO_URING=1): sends go one by one");
        return;
    }
    io_uring_params params{};
    params.flags = IORING_SETUP_SUBMIT_ALL | IORING_SETUP_COOP_TASKRUN;
    int error = io_uring_queue_init_params(kRingEntries, &ring, &params);
    if (error == -EINVAL) {
        params = io_uring_params{};
        error = io_uring_queue_init_params(kRingEntries, &ring, &params);
    }
    if (error < 0) {
        char line[160];
        std::snprintf(line, sizeof line, "io_uring cannot be set up (%s): sends go one by one",
                      std::strerror(-error));
        platformOperatorLine(line);
        return;
    }
    sqeFlags = (params.features & IORING_FEAT_CQE_SKIP) != 0 ? IOSQE_CQE_SKIP_SUCCESS : 0;
    ringOpen = true;
    pendingCount = 0;
}

void sendBatchClose() {
    if (ringOpen) {
        sendBatchSubmit();
        io_uring_queue_exit(&ring);
        batching = false;
        ringOpen = false;
    }
}

bool sendBatchRinged() {
    return ringOpen;
}

void sendBatchBegin() {
    if (ringOpen) {
        reap();
        batching = true;
    }
}

void sendBatchSubmit() {
    batching = false;
    if (ringOpen) {
        flushPending();
    }
}
