// StrToIP and the integer reader, against a plain reference on every text
// of four decimal parts; StrToIPv6 against the C library's reader, from a
// copy of the input's own size, and its word on whether the text is the
// address as written against the written text.
#include <arpa/inet.h>
#include <cstring>
#include <memory>
#include <string>

#include "fuzzcheck.h"
#include "tools/address.h"
#include "tools/text.h"

namespace {

// Exactly four parts of 1 to 18 decimal digits joined by dots: the address,
// or false when a part passes 255.
bool Reference(const std::string& Text, bool& Valid, uint32_t& IP) {
  uint32_t result = 0;
  size_t pos = 0;
  Valid = true;
  for (int part = 0; part < 4; ++part) {
    size_t end = pos;
    while (end < Text.size() && Text[end] >= '0' && Text[end] <= '9') ++end;
    if (end == pos || end - pos > 18) return false;
    if (part < 3 ? (end >= Text.size() || Text[end] != '.') : end != Text.size()) return false;
    const unsigned long long v = std::stoull(Text.substr(pos, end - pos));
    if (v > 255) Valid = false;
    result = (result << 8) | static_cast<uint32_t>(v & 255);
    pos = end + 1;
  }
  IP = result;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  const uint32_t ip = StrToIP(text);
  bool valid;
  uint32_t want;
  if (Reference(text, valid, want)) FUZZ_CHECK(ip == (valid ? want : 0xFFFFFFFFu));
  if (ip != 0xFFFFFFFFu) FUZZ_CHECK(StrToIP(IPToStr(ip)) == ip);
  if (!text.empty() && text.size() <= 18 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    int64_t v = -1;
    FUZZ_CHECK(ReadInteger(text, v) && v == std::stoll(text));
  }
  std::unique_ptr<char[]> own(new char[Size]);
  if (Size) std::memcpy(own.get(), Data, Size);
  TIPv6Address mine = 0;
  bool canonical = false;
  const bool read = StrToIPv6(std::string_view(own.get(), Size), mine, &canonical);
  unsigned char bytes[16];
  const bool system = Size <= 45 && text.find(':') != std::string::npos &&
                      text.find('\0') == std::string::npos &&
                      inet_pton(AF_INET6, text.c_str(), bytes) == 1;
  FUZZ_CHECK(read == system);
  if (read) {
    FUZZ_CHECK(mine == IPv6FromBytes(bytes));
    FUZZ_CHECK(canonical == (IPv6ToStr(mine) == text));
  }
  return 0;
}
