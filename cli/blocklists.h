// Block lists for kesl-lookup --country and --registry: the selection, the
// merging, and the forms that go into a file, ipset or nftables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipdb/database.h"

enum TListForm { lfLines, lfIpset, lfNft };

// The blocks of the countries and of the registries, sorted by start, each
// block once.
std::vector<const TIPv4Block*> SelectBlocks(TIPv4Database& Db,
                                            const std::vector<uint16_t>& Countries,
                                            const std::vector<uint16_t>& Registries);

// The same addresses in the fewest ranges: blocks that touch or overlap
// become one. The ranges come as blocks with only StartIP and Count set.
std::vector<TIPv4Block> AggregateBlocks(const std::vector<const TIPv4Block*>& Blocks);

// The IPv6 blocks of the countries and of the registries, sorted, each once.
std::vector<const TIPv6Block*> SelectBlocks6(const TIPv4Database& Db,
                                             const std::vector<uint16_t>& Countries,
                                             const std::vector<uint16_t>& Registries);
// The same addresses in the fewest ranges (Start and Last set).
std::vector<TIPv6Block> AggregateBlocks6(const std::vector<const TIPv6Block*>& Blocks);

// The list as text: lines in a notation, the IPv4 blocks first; for ipset a
// restore file that creates (if missing) and fills a hash:net set SetName
// large enough for it; for nftables a file for "nft -f" that defines an
// interval set SetName in the table "inet kesl" and fills it, prefixes in
// cidr and mask notation (IPv6 blocks in cidr), ranges in range notation.
// Both forms replace what the set held. A set holds one family: the
// firewall forms take the IPv6 blocks when there are no IPv4 ones given.
std::string ListText(const std::vector<const TIPv4Block*>& Blocks,
                     const std::vector<const TIPv6Block*>& Blocks6, TNotation Notation,
                     TListForm Form, const std::string& SetName);

// A name ipset and nftables both take: a letter or '_', then letters,
// digits and '_', at most 31 in all.
bool ValidSetName(const std::string& Name);
