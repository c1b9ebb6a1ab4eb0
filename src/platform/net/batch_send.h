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
// at once). bytes must stay unchanged until
// sendBatchSubmit returns: the kernel reads them during the submission and never later (a
// send that cannot go at once fails rather than waiting). A full ring is submitted first.
void sendBatchQueue(SOCKET s, const char* bytes, int length);
// Hands every queued send to the kernel in one system call; nothing queued, no call.
void sendBatchSubmit();
