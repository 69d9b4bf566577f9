// Block lists for kesl-lookup --country and --registry and the window's
// saved lists: the selection, the merging, and the forms that go into a
// file, a spreadsheet, ipset or nftables.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ipdb/database.h"

enum TListForm { lfLines, lfIpset, lfNft, lfCsv };

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

// The bogons of a database made from the registries' files: the gaps
// between its blocks (space no registry has delegated), and the
// special-purpose ranges that are not globally reachable, sorted by start;
// the two may overlap (AggregateBlocks merges them). IPv4 ranges have
// StartIP and Count set, IPv6 ones Start and Last.
std::vector<TIPv4Block> UndelegatedIPv4(const TIPv4Database& Db);
std::vector<TIPv6Block> UndelegatedIPv6(const TIPv4Database& Db);

// The list as text: lines in a notation, the IPv4 blocks first; as CSV
// (RFC 4180) the same lines under the header kListCsvHeader, each with its
// block's country code and name (UTF-8), registry and date (yyyy-mm-dd,
// empty when unknown); for ipset a
// restore file that fills a temporary hash:net set large enough for the
// list and swaps it with SetName (created when missing), so that the live
// set changes in one step; for nftables a file for "nft -f" that defines an
// interval set SetName in the table "inet kesl", empties and fills it in
// one transaction, prefixes in cidr and mask notation (IPv6 blocks in
// cidr), ranges in range notation. A set holds one family, Family (4 or 6):
// the firewall forms write that family's blocks, whatever the lists hold.
constexpr char kListCsvHeader[] = "block,country_code,country_name,registry,date\r\n";
std::string ListText(const std::vector<const TIPv4Block*>& Blocks,
                     const std::vector<const TIPv6Block*>& Blocks6, TNotation Notation,
                     TListForm Form, const std::string& SetName, int Family);
// The temporary set that the ipset form fills before the swap, for a set
// of that name and Type (its family and size): "kesl-swap-" and eight hex
// digits of a hash of both. The '-' keeps it from being any --set-name
// (and so the target); the hash gives each set and size its own, so that
// a leftover of a failed restore is only ever refilled by the same set's
// next one, and a user's own set of a name of ours is never touched.
std::string IpsetTempName(const std::string& SetName, const std::string& Type);

// A name ipset and nftables both take: a letter or '_', then letters,
// digits and '_', at most 31 in all.
bool ValidSetName(const std::string& Name);
