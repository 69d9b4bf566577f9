// MD5 (RFC 1321), for checking downloads against the checksums that the
// registries publish beside their files. Not for anything that needs a
// secure hash.
#pragma once

#include <string>
#include <string_view>

// The digest of Data as 32 lower-case hex digits.
std::string Md5Hex(std::string_view Data);
