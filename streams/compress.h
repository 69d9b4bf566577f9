// Whole-buffer compression in the forms the database body may take.
#pragma once

#include <string>
#include <string_view>

// A zlib stream (RFC 1950) of Data at the given level (0..9).
std::string ZLibCompress(std::string_view Data, int Level = 9);
// A bzip2 stream of Data with the given block size (1..9, in 100 kB).
std::string BZ2Compress(std::string_view Data, int BlockSize = 9);
// Inflates a gzip or zlib stream (detected by its header); EZLibError on
// corrupt data. Used for compressed input files, not database bodies.
std::string GZipDecompress(std::string_view Data);
// Decompresses a bzip2 stream, also several concatenated ones; EBZ2Error
// on corrupt data.
std::string BZ2Decompress(std::string_view Data);
