// The server's own IPv4 address. The name of the host often resolves to
// 127.0.1.1 on Linux, which no peer can reach, so the engine binds any
// address (or the configured one) and writes into its packets the configured
// address, else the first non-loopback IPv4 address of an interface that is
// up, else 127.0.0.1.
#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Parses dotted IPv4 text into network order; false when it is not one.
bool ParseAddress(const char* text, uint32_t& addressRaw);

// The first non-loopback IPv4 address of an interface that is up, else
// 127.0.0.1 (network order).
uint32_t FirstReachableAddress();

// Dotted text of an address in network order, NUL-terminated and cut to
// size; answers text.
char* AddressToText(uint32_t addressRaw, char* text, size_t size);

}  // namespace velmora
