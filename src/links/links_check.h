// The [links] part of the configuration check (--check-config): what the server would read,
// and the entries it could not link. Nothing is resolved and nothing is sent.
#pragma once

#include <cstdint>
#include <cstdio>

// Prints "[links] KEY = VALUE (file)" for each key of [links], in file order (a name marked
// as not resolved by the check).
void linksPrintKeys(FILE* out);
// Reports through problem, as errors: an empty value, a key that is not 1 to 8, two entries
// for one peer, and a dotted address that is the server's own (bound: the --bind address;
// 0 for none, then any address of the host's interfaces).
void linksCheckConfig(uint32_t bound, void (*problem)(bool error, const char* text));
