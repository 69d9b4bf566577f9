// Whole-buffer compression in the forms the database body may take.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A zlib stream (RFC 1950) of Data at the given level (0..9).
std::string ZLibCompress(std::string_view Data, int Level = 9);
// A gzip member (RFC 1952) of Data, as the gzip program writes.
std::string GZipCompress(std::string_view Data);
// A bzip2 stream of Data with the given block size (1..9, in 100 kB).
std::string BZ2Compress(std::string_view Data, int BlockSize = 9);
// Inflates a gzip or zlib stream (detected by its header); EZLibError on
// corrupt data or output beyond MaxSize bytes. For compressed input files.
std::string GZipDecompress(std::string_view Data, size_t MaxSize = SIZE_MAX);
// Decompresses a bzip2 stream, also several concatenated ones; EBZ2Error
// on corrupt data or output beyond MaxSize bytes.
std::string BZ2Decompress(std::string_view Data, size_t MaxSize = SIZE_MAX);
