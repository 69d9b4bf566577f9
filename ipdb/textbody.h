// The text body: registry delegation lines, read in fixed chunks and parsed
// in place. Both readers only append blocks to the load's list.
#pragma once

#include <cstddef>

class TStream;
class TLoadContext;

// Reads lines until the stream gives a short read. A line that fills the
// whole buffer without ending is dropped unparsed; more blocks than a
// section may hold make the load invalid.
void ReadTextBody(TStream& Stream, TLoadContext& Load);
// Parses one line of Length bytes (a zero byte inside ends it); appends at
// most one block. Lines that are not IPv4 records are skipped; an unknown
// registry raises "WARNING: Unknown NIC name". With Padded, 64 bytes past
// the line's end may be read.
void ParseTextBodyLine(const char* Line, size_t Length, bool Padded, TLoadContext& Load);
