// Which registry administers which addresses, by IANA's registries of the
// address space: what range files, which carry no registry, are given.
#pragma once

#include <array>
#include <cstdint>

#include "tools/address.h"

// Which registry administers each /8 today, by IANA's IPv4 address space
// registry. A legacy /8 counts for the registry that holds most of its
// blocks, measured per block (scripts/slash8-agreement.sh); reserved and
// special-purpose space (local, private, loopback, multicast, future use) is
// IANA's own.
extern const std::array<uint16_t, 256> kSlash8Registry;

// The registry that IANA's IPv6 unicast address assignments give the
// address, and in End the last address of the assignment (or of the gap
// before the next one, which is IANA's own).
uint16_t IPv6Registry(TIPv6Address Address, TIPv6Address& End);
