// The audio relay: fan-out of every audio datagram to the other active stations, the
// talker lock and the flood guard.
#pragma once

#include "platform/net/winsock.h"
#include "platform/types.h"

#include <cstdint>

constexpr int AUDIO_BUFFER_SIZE = 3624;
constexpr int LONG_DATAGRAM_MIN = 103; // longer than 102 bytes: subject to the talker lock
constexpr int32_t QUEUE_COUNT_LIMIT = 25;
constexpr DWORD QUEUE_TURN_MS = 350;

extern char talkerAddress[16];
extern int32_t talkerHold;
extern int32_t queueCount;

// Handles one readiness notification of the audio-port socket.
void onAudioSocket(SOCKET s, WORD event, WORD error);

// Dispatches every waiting window message when more than 350 ms have passed since the
// turn was last taken.
void queueTurn();

// Puts the relay's state (talker lock, flood guard count, queue turn, list text and cycle)
// back to its values at program start. For tests.
void relayReset();
// The queue turn's part of it (queue_turn.cpp).
void queueTurnReset();
