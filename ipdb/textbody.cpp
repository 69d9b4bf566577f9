// The text body: registry delegation lines, read in fixed chunks and parsed
// in place.
#include "ipdb/textbody.h"

#include <algorithm>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <cstring>
#include <memory>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/delegationline.h"
#include "ipdb/format.h"
#include "ipdb/loadcontext.h"
#include "ipdb/registries.h"
#include "streams/stream.h"
#include "tools/address.h"
#include "tools/text.h"

namespace {

constexpr int32_t kChunk = 16384;

// Bit j of Bars is set where P[j] is the separator, of Zeros where it is 0, for the
// first N (at most 64) bytes of P. With Readable, 64 bytes from P may be
// read whatever N is.
void SeparatorMasks(const char* P, size_t N, bool Readable, uint64_t& Bars, uint64_t& Zeros) {
#ifdef __SSE2__
  alignas(16) char tail[64] = {};
  if (N < 64 && !Readable) {
    std::memcpy(tail, P, N);
    P = tail;
  }
  const __m128i bar = _mm_set1_epi8(kDelegationSeparator);
  const __m128i zero = _mm_setzero_si128();
  Bars = 0;
  Zeros = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(P + 16 * k));
    Bars |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, bar))))
            << (16 * k);
    Zeros |=
        static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(v, zero))))
        << (16 * k);
  }
  if (N < 64) {
    const uint64_t keep = (uint64_t{1} << N) - 1;
    Bars &= keep;
    Zeros &= keep;
  }
#else
  (void)Readable;
  Bars = 0;
  Zeros = 0;
  for (size_t j = 0; j < N; ++j) {
    Bars |= static_cast<uint64_t>(P[j] == kDelegationSeparator) << j;
    Zeros |= static_cast<uint64_t>(P[j] == 0) << j;
  }
#endif
}

}  // namespace

void ParseTextBodyLine(const char* Line, size_t Length, bool Padded, TLoadContext& Load) {
  // Fields up to the date, each closed by a separator; the rest of the line
  // is not read.
  // The separators are found 64 bytes at a time, without a branch per
  // byte: field lengths vary too much for branches to be predicted. A zero
  // byte ends the line.
  constexpr int kClosed = dfDate + 1;
  size_t bars[kClosed];
  int found = 0;
  for (size_t base = 0; base < Length && found < kClosed; base += 64) {
    const size_t n = std::min<size_t>(64, Length - base);
    uint64_t mask, zeros;
    SeparatorMasks(Line + base, n, Padded, mask, zeros);
    if (zeros) mask &= (zeros & (0 - zeros)) - 1;  // only before the first zero
    for (; mask && found < kClosed; mask &= mask - 1) {
      bars[found++] = base + static_cast<size_t>(__builtin_ctzll(mask));
    }
    if (zeros) break;
  }
  if (found < kClosed) return;
  TDelegationLine field;
  for (size_t f = 0, start = 0; f < kClosed; start = bars[f++] + 1) {
    field.Field[f] = std::string_view(Line + start, bars[f] - start);
  }
  field.Count = kClosed;
  if (field[dfCountry].size() != 2) return;
  if (!IsRecordType(field[dfType], kIPv4Type)) return;

  TIPv4Block block;
  block.StartIP = StrToIP(field[dfStart]);
  if (block.StartIP == 0xFFFFFFFFu) return;
  int64_t count;
  if (!ReadInteger(field[dfValue], count)) return;
  block.Count = static_cast<uint32_t>(count);
  if (block.Count == 0) return;

  // Lines come in long runs of one registry: the last match is tried first.
  if (!Load.LastNic || !SameAsciiText(field[dfRegistry], Load.LastNic->Token)) {
    Load.LastNic = RegistryByToken(field[dfRegistry], true);
    if (!Load.LastNic) throw EDatabaseError("WARNING: Unknown NIC name");
  }
  block.CenterID = Load.LastNic->ID;
  ParseCountryCode(field[dfCountry], block.CountryCode);

  // The date's digits alone, as one number; 0 when none or too many.
  uint64_t date = 0;
  bool digits = false;
  bool overflow = false;
  for (const char c : field[dfDate]) {
    if (c < '0' || c > '9') continue;
    digits = true;
    // Only a value this large can pass the signed 64-bit range with one digit more.
    if (date >= (uint64_t{1} << 59) &&
        date > (uint64_t{0x7FFFFFFFFFFFFFFF} - static_cast<uint64_t>(c - '0')) / 10) {
      overflow = true;
    }
    date = date * 10 + static_cast<uint64_t>(c - '0');
  }
  block.Date = digits && !overflow ? static_cast<uint32_t>(date) : 0;

  if (static_cast<int64_t>(Load.BlockCount()) >= kMaxSectionCount) Load.Invalid();
  Load.Append(block);
}

void ReadTextBody(TStream& Stream, TLoadContext& Load) {
  // One spare byte for the zero that ends the last line, and 64 more so that
  // the separator search may read a whole word past any line.
  std::unique_ptr<char[]> buffer(new char[kChunk + 1 + 64]());
  char* buf = buffer.get();
  int32_t carry = 0;
  int32_t lineStart = 0;
  for (;;) {
    // A line that fills the whole buffer without ending is dropped unparsed.
    if (carry >= kChunk) carry = 0;
    if (carry > 0) std::memmove(buf, buf + lineStart, static_cast<size_t>(carry));
    const int32_t request = kChunk - carry;
    const int32_t got = Stream.Read(buf + carry, request);
    lineStart = 0;
    int32_t i = carry;
    const int32_t end = carry + got;
    // The stream ended right after a full chunk that closed inside the last
    // line: that line is complete now and must not be lost.
    if (got == 0 && carry > 0) {
      buf[carry] = 0;
      ParseTextBodyLine(buf, static_cast<size_t>(carry), true, Load);
      Load.Progress();
      return;
    }
    while (i < end) {
      if (i == lineStart) {
        while (i < end && static_cast<unsigned char>(buf[i]) <= 32) ++i;
        lineStart = i;
      }
      // The line ends at the first CR or LF: find the LF, then a CR before it.
      const char* lf =
          static_cast<const char*>(std::memchr(buf + i, 10, static_cast<size_t>(end - i)));
      const int32_t limit = lf ? static_cast<int32_t>(lf - buf) : end;
      const char* cr =
          static_cast<const char*>(std::memchr(buf + i, 13, static_cast<size_t>(limit - i)));
      i = cr ? static_cast<int32_t>(cr - buf) : limit;
      carry = i - lineStart;
      if (i < end || got < request) {
        buf[i] = 0;
        ParseTextBodyLine(buf + lineStart, static_cast<size_t>(i - lineStart), true, Load);
        lineStart = i;
      }
      Load.Progress();
    }
    if (got != request) return;
  }
}
