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

namespace {

// 26 copies and the list texts of one fan-out, with room to spare; the completion ring is
// twice as long.
constexpr unsigned kRingEntries = 64;

io_uring ring;
bool ringOpen = false;
bool batching = false; // between sendBatchBegin and sendBatchSubmit, with the ring open

// Marks every completion posted so far as seen (no system call; one load and compare when
// there is none, the usual case).
void reap() {
    const unsigned n = io_uring_cq_ready(&ring);
    if (n != 0) [[unlikely]] {
        io_uring_cq_advance(&ring, n);
    }
}

// Makes the ring's free submission entries the batch being built.
void startBatch() {
    io_uring_sq& sq = ring.sq;
    platform::batch::next = sq.sqe_tail;
    platform::batch::room = sq.ring_entries - (sq.sqe_tail - IO_URING_READ_ONCE(*sq.khead));
}

// Hands the entries queued since startBatch to the kernel in one system call (none, no call).
void submitBatch() {
    platform::batch::room = 0;
    if (platform::batch::next == ring.sq.sqe_tail) {
        return;
    }
    ring.sq.sqe_tail = platform::batch::next;
    while (io_uring_submit(&ring) == -EINTR) {
    }
    reap();
}

} // namespace

namespace platform::batch {

io_uring_sqe* entries = nullptr;
unsigned mask = 0;
unsigned next = 0;
unsigned room = 0;

void queueSlow(SOCKET s, const char* bytes, int length) {
    if (batching && length >= 0) {
        submitBatch(); // the ring is full: what is queued goes first, in order
        startBatch();
        if (room != 0) {
            sendBatchQueue(s, bytes, length);
            return;
        }
    }
    ws::send(s, bytes, length, 0);
}

} // namespace platform::batch

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
    io_uring_sqe send{};
    io_uring_prep_send(&send, -1, nullptr, 0, MSG_DONTWAIT | MSG_NOSIGNAL);
    send.flags = (params.features & IORING_FEAT_CQE_SKIP) != 0 ? IOSQE_CQE_SKIP_SUCCESS : 0;
    for (unsigned i = 0; i < ring.sq.ring_entries; ++i) {
        ring.sq.sqes[i] = send;
    }
    platform::batch::entries = ring.sq.sqes;
    platform::batch::mask = ring.sq.ring_mask;
    platform::batch::room = 0;
    ringOpen = true;
}

void sendBatchClose() {
    if (ringOpen) {
        sendBatchSubmit();
        io_uring_queue_exit(&ring);
        ringOpen = false;
    }
}

bool sendBatchRinged() {
    return ringOpen;
}

void sendBatchBegin() {
    if (ringOpen && !batching) {
        reap();
        startBatch();
        batching = true;
    }
}

void sendBatchSubmit() {
    if (batching) {
        batching = false;
        submitBatch();
    }
}
