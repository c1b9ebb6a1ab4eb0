#include "base/control_packets.h"

uint32_t serverSsrc = 0;
uint8_t* keepAliveCompound = nullptr;
int keepAliveLength = 0;
uint8_t termByeCompound[TERM_BYE_SIZE] = {};
int termByeLength = 0;
