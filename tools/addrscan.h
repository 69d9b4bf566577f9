// Finding the IPv4 and IPv6 addresses in any text: log lines, mail headers,
// whatever a program wrote. The text is read in pieces of any size and
// handed on unchanged, each address found marked as such, in bounded memory
// however long its lines.
//
// Found are dotted-decimal IPv4 addresses (four parts of 0 to 255, no
// leading zeros) that are not part of a longer run of digits and dots
// (1.2.3.4.5 is a version, not an address; a single dot after one ends a
// sentence) and IPv6 addresses in the RFC 4291 text forms, the embedded
// IPv4 form included; an address beside a letter, a digit or an underscore
// is none (v1.2.3.4), "::" on its own is none, and a colon after one (a
// port) or before one (a label such as "ip:") is not part of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/address.h"

struct TFoundAddress {
  bool IsIPv6 = false;
  uint32_t IPv4 = 0;  // host byte order
  TIPv6Address IPv6 = 0;
};

// Where the scanner puts the text: every byte of the input goes to exactly
// one call, in order.
class TAddressSink {
 public:
  virtual ~TAddressSink() = default;
  // Text that is no address.
  virtual void Text(const char* Data, size_t Size) = 0;
  // An address as it stands in the text, and what it is.
  virtual void Address(std::string_view Text, const TFoundAddress& Found) = 0;
};

class TAddressScanner {
 public:
  explicit TAddressScanner(TAddressSink& Sink) : FSink(Sink) {}
  TAddressScanner(const TAddressScanner&) = delete;
  TAddressScanner& operator=(const TAddressScanner&) = delete;

  // The next piece of the text.
  void Feed(const char* Data, size_t Size);
  // The end of the text: what was held back goes out.
  void Finish();

  // Runs of address characters longer than this hold no IPv6 address; only
  // their IPv4 parts between colons are looked at.
  static constexpr size_t kMaxRun = 64;

 private:
  // A run of address characters ([0-9A-Fa-f:.]) complete in Text, with
  // whether the characters around it allow an address beside them.
  // LeftLetter: the run follows a letter, which may begin a label ("src:").
  void Run(const char* Text, size_t Size, bool LeftOk, bool RightOk, bool LeftLetter);
  // The run from Data + From to Data + To, complete in the piece Data;
  // DotsOnly when it is known to hold no colon.
  void Look(const char* Data, size_t From, size_t To, bool DotsOnly);
  // One part of a run between colons, which may be an IPv4 address.
  void Part(const char* Text, size_t Size, bool LeftOk, bool RightOk);
  // An address at Text: the text before it from FFrom on goes out first.
  // Text that holds none goes out only when an address or the end of a
  // piece comes, so that a piece takes few calls of the sink.
  void Found(const char* Text, size_t Size, const TFoundAddress& Address);
  void Pending(const char* Upto);
  // A run in progress at the end of a piece.
  void Hold(const char* Text, size_t Size);
  void HoldLong(const char* Text, size_t Size);
  void EndRun(int Next);

  TAddressSink& FSink;
  const char* FFrom = nullptr;  // text from here on has not gone out yet
  int FPrev = -1;               // the last byte handed on, -1 before the first
  bool FInRun = false;          // a run reaches the end of the last piece
  bool FRunLeftOk = true;       // the run in progress may start with an address
  bool FRunLeftLetter = false;  // it follows a letter
  bool FLong = false;           // it is longer than kMaxRun: parts only
  std::string FHeld;            // the run (or, when long, its current part) so far
  bool FPartLeftOk = true;
  bool FPartDead = false;  // the long run's current part is too long for one
};
