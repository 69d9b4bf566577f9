// The address finder: fed in pieces of any size, it hands on every byte
// once and in order, and whatever it marks as an address parses as one,
// stands beside nothing that makes it part of a word, and is the same
// whichever way the text was cut.
#include <string>
#include <vector>

#include "fuzzcheck.h"
#include "tools/addrscan.h"

namespace {

struct TCollect : TAddressSink {
  std::string All;
  std::vector<std::pair<size_t, std::string>> Found;  // where, and the text
  void Text(const char* Data, size_t Size) override { All.append(Data, Size); }
  void Address(std::string_view Text, const TFoundAddress& F) override {
    TIPv6Address six = 0;
    uint32_t net = 0;
    if (F.IsIPv6) {
      FUZZ_CHECK(StrToIPv6(Text, six) && six == F.IPv6);
    } else {
      FUZZ_CHECK(ParseNumericIPv4(Text, net) && SwapBytes(net) == F.IPv4);
      FUZZ_CHECK(Text.find(':') == std::string_view::npos);
    }
    Found.emplace_back(All.size(), std::string(Text));
    All.append(Text);
  }
};

bool IsWordByte(char C) {
  return (C >= '0' && C <= '9') || (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || C == '_';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  const std::string text(reinterpret_cast<const char*>(Data), Size);
  TCollect whole;
  TAddressScanner one(whole);
  one.Feed(text.data(), text.size());
  one.Finish();
  FUZZ_CHECK(whole.All == text);
  for (const auto& [at, found] : whole.Found) {
    FUZZ_CHECK(at == 0 || !IsWordByte(text[at - 1]));
    const size_t end = at + found.size();
    FUZZ_CHECK(end == text.size() || !IsWordByte(text[end]));
  }
  // Cut into pieces whose sizes come from the text itself: the same finds.
  TCollect cut;
  TAddressScanner pieces(cut);
  for (size_t at = 0, step = 1; at < text.size(); at += step) {
    step = 1 + static_cast<unsigned char>(text[at]) % 7;
    pieces.Feed(text.data() + at, std::min(step, text.size() - at));
  }
  pieces.Finish();
  FUZZ_CHECK(cut.All == text);
  FUZZ_CHECK(cut.Found == whole.Found);
  return 0;
}
