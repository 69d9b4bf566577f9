#include "dbbuild/mmdb.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

#include "dbbuild/exportinfo.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/provenance.h"
#include "ipdb/special.h"
#include "tools/address.h"
#include "tools/errors.h"
#include "tools/text.h"
#include "tools/tools.h"

namespace {

// The data field types of the format.
enum TMmdbType : int {
  mtPointer = 1,
  mtString = 2,
  mtUint16 = 5,
  mtUint32 = 6,
  mtMap = 7,
  mtUint64 = 9,
  mtArray = 11,
};

// The data section, and the metadata, which is encoded the same way.
class TMmdbData {
 public:
  std::string Bytes;

  // A control byte (and the extended type byte) for a field of Size.
  void Control(int Type, size_t Size) {
    const int first = Type <= 7 ? Type << 5 : 0;
    std::string size;
    int sizeBits = 0;
    if (Size < 29) {
      sizeBits = static_cast<int>(Size);
    } else if (Size < 29 + 256) {
      sizeBits = 29;
      size += static_cast<char>(Size - 29);
    } else if (Size < 285 + 65536) {
      sizeBits = 30;
      const size_t n = Size - 285;
      size += static_cast<char>(n >> 8);
      size += static_cast<char>(n & 255);
    } else {
      sizeBits = 31;
      const size_t n = Size - 65821;
      for (int shift = 16; shift >= 0; shift -= 8) size += static_cast<char>((n >> shift) & 255);
    }
    Bytes += static_cast<char>(first | sizeBits);
    if (Type > 7) Bytes += static_cast<char>(Type - 7);
    Bytes += size;
  }
  void String(std::string_view Text) {
    Control(mtString, Text.size());
    Bytes += Text;
  }
  // An unsigned integer of Type (uint16, uint32 or uint64), big-endian in
  // as few bytes as it needs.
  void Unsigned(int Type, uint64_t Value) {
    std::string bytes;
    for (; Value; Value >>= 8) bytes.insert(bytes.begin(), static_cast<char>(Value & 255));
    Control(Type, bytes.size());
    Bytes += bytes;
  }
  void Map(size_t Pairs) { Control(mtMap, Pairs); }
  void Array(size_t Items) { Control(mtArray, Items); }
  // A pointer to Offset in the data section, in the fewest bytes.
  void Pointer(uint32_t Offset) {
    if (Offset < 2048) {
      Bytes += static_cast<char>((mtPointer << 5) | (0 << 3) | (Offset >> 8));
      Bytes += static_cast<char>(Offset & 255);
    } else if (Offset < 2048 + (1u << 19)) {
      const uint32_t v = Offset - 2048;
      Bytes += static_cast<char>((mtPointer << 5) | (1 << 3) | (v >> 16));
      Bytes += static_cast<char>((v >> 8) & 255);
      Bytes += static_cast<char>(v & 255);
    } else if (Offset < 526336 + (1u << 27)) {
      const uint32_t v = Offset - 526336;
      Bytes += static_cast<char>((mtPointer << 5) | (2 << 3) | (v >> 24));
      for (int shift = 16; shift >= 0; shift -= 8) Bytes += static_cast<char>((v >> shift) & 255);
    } else {
      Bytes += static_cast<char>((mtPointer << 5) | (3 << 3));
      for (int shift = 24; shift >= 0; shift -= 8) {
        Bytes += static_cast<char>((Offset >> shift) & 255);
      }
    }
  }
  uint32_t Offset() const { return static_cast<uint32_t>(Bytes.size()); }
};

// The answers, each stored once: a country's map is stored once too and
// pointed to from every answer of that country.
class TAnswers {
 public:
  explicit TAnswers(bool Registered) : FRegistered(Registered) {}

  // What the registries' files and IANA's table add to a block's answer:
  // its status, its holder's AS numbers (when known), and the
  // special-purpose range that holds all of it.
  struct TFacts {
    TAllocation Status = alUnknown;
    uint32_t Holder = kNoHolder;
    const std::vector<TASNRecord>* ASNs = nullptr;
    const TSpecialRange* Special = nullptr;
  };

  // The data section offset of the answer for a block.
  template <typename TBlock>
  uint32_t Of(const TBlock& B, const TFacts& F) {
    const auto key =
        std::make_tuple(B.CountryCode, B.CenterID, B.Date, F.Status, F.Holder, F.Special);
    const auto found = FAnswers.find(key);
    if (found != FAnswers.end()) return found->second;
    const uint32_t country = CountryMap(B);
    const uint32_t at = FData.Offset();
    FData.Map(FRegistered ? 3 : 2);
    FData.String("country");
    FData.Pointer(country);
    if (FRegistered) {
      FData.String("registered_country");
      FData.Pointer(country);
    }
    FData.String("kesl");
    const std::string_view status = AllocationName(F.Status);
    FData.Map(1 + (B.Date != 0) + !status.empty() + (F.ASNs != nullptr) + (F.Special != nullptr));
    FData.String("registry");
    FData.String(B.Center->Name);
    if (B.Date) {
      FData.String("date");
      FData.String(Date8Text(B.Date));
    }
    if (!status.empty()) {
      FData.String("allocation");
      FData.String(status);
    }
    if (F.ASNs) {
      size_t n = 0;
      for (const TASNRecord& r : *F.ASNs) n += r.Count;
      FData.String("asns");
      FData.Array(n);
      for (const TASNRecord& r : *F.ASNs) {
        for (uint64_t as = r.First; as <= r.Last(); ++as) FData.Unsigned(mtUint32, as);
      }
    }
    if (F.Special) {
      FData.String("special");
      FData.String(F.Special->Name);
    }
    FAnswers.emplace(key, at);
    return at;
  }
  // The answer of a special-purpose range outside every block: its name
  // alone.
  uint32_t Special(const TSpecialRange& R) {
    const auto found = FSpecials.find(&R);
    if (found != FSpecials.end()) return found->second;
    const uint32_t at = FData.Offset();
    FData.Map(1);
    FData.String("kesl");
    FData.Map(1);
    FData.String("special");
    FData.String(R.Name);
    FSpecials.emplace(&R, at);
    return at;
  }
  const std::string& Bytes() const { return FData.Bytes; }

 private:
  template <typename TBlock>
  uint32_t CountryMap(const TBlock& B) {
    const auto found = FCountries.find(B.CountryCode);
    if (found != FCountries.end()) return found->second;
    const uint32_t at = FData.Offset();
    FData.Map(2);
    FData.String("iso_code");
    FData.String(CodeToStr(B.CountryCode));
    FData.String("names");
    FData.Map(1);
    FData.String("en");
    FData.String(Latin1ToUtf8(B.Country->Name));
    FCountries.emplace(B.CountryCode, at);
    return at;
  }

  bool FRegistered;
  TMmdbData FData;
  std::map<std::tuple<uint16_t, uint16_t, uint32_t, TAllocation, uint32_t, const TSpecialRange*>,
           uint32_t>
      FAnswers;
  std::map<const TSpecialRange*, uint32_t> FSpecials;
  std::map<uint16_t, uint32_t> FCountries;
};

// The search tree, one node a pair of records. A record is empty (0), a
// node (its index), or an answer (kAnswer | its data offset).
class TTree {
 public:
  static constexpr uint32_t kAnswer = 0x80000000u;

  TTree() { FNodes.push_back({0, 0}); }

  // Puts Answer on the Bits-long prefix at Start (an address of the IPv6
  // tree). Where part of it holds an answer already, that answer stays:
  // the database's blocks are disjoint. The kept node (the IPv4 part, once
  // it is filled) is never entered: no IPv6 block answers there.
  void Insert(TIPv6Address Start, int Bits, uint32_t Answer) {
    if (Bits == 0) return Fill(0, Answer | kAnswer);
    uint32_t node = 0;
    for (int depth = 0;; ++depth) {
      if (node == FKept) return;
      const int bit = static_cast<int>((Start >> (127 - depth)) & 1);
      uint32_t record = FNodes[node][bit];
      if (depth == Bits - 1) {
        if (record == 0) {
          FNodes[node][bit] = Answer | kAnswer;
        } else if (!(record & kAnswer)) {
          Fill(record, Answer | kAnswer);
        }
        return;
      }
      if (record & kAnswer) return;
      if (record == 0) {
        record = NewNode();
        FNodes[node][bit] = record;
      }
      node = record;
    }
  }
  // The node at the end of the Depth-long path to Start, made where there
  // is none; an answer on the way is pushed down into both halves.
  uint32_t NodeAt(TIPv6Address Start, int Depth) {
    uint32_t node = 0;
    for (int depth = 0; depth < Depth; ++depth) {
      const int bit = static_cast<int>((Start >> (127 - depth)) & 1);
      uint32_t record = FNodes[node][bit];
      if (record == 0 || (record & kAnswer)) {
        const uint32_t made = NewNode();
        FNodes[made] = {record, record};
        FNodes[node][bit] = made;
        record = made;
      }
      node = record;
    }
    return node;
  }
  // Makes the record for the Depth-long prefix at Start lead to Node,
  // whatever it held: two paths to one part of the tree.
  void Alias(TIPv6Address Start, int Depth, uint32_t Node) {
    const uint32_t parent = NodeAt(Start, Depth - 1);
    FNodes[parent][static_cast<int>((Start >> (128 - Depth)) & 1)] = Node;
  }
  // From now on Node and all under it are left as they are.
  void Keep(uint32_t Node) { FKept = Node; }
  const std::vector<std::array<uint32_t, 2>>& Nodes() const { return FNodes; }

 private:
  uint32_t NewNode() {
    const auto made = static_cast<uint32_t>(FNodes.size());
    if (made >= kAnswer) throw EKeslError("too many nodes for a MaxMind DB file");
    FNodes.push_back({0, 0});
    return made;
  }
  // Gives every empty record under Node the answer.
  void Fill(uint32_t Node, uint32_t Answer) {
    std::vector<uint32_t> todo = {Node};
    while (!todo.empty()) {
      const uint32_t n = todo.back();
      todo.pop_back();
      if (n == FKept) continue;
      for (uint32_t& record : FNodes[n]) {
        if (record == 0) {
          record = Answer;
        } else if (!(record & kAnswer)) {
          todo.push_back(record);
        }
      }
    }
  }

  std::vector<std::array<uint32_t, 2>> FNodes;
  uint32_t FKept = UINT32_MAX;
};

void PutRecord(std::string& Out, uint64_t Value, int Bytes) {
  for (int shift = 8 * (Bytes - 1); shift >= 0; shift -= 8) {
    Out += static_cast<char>((Value >> shift) & 255);
  }
}

}  // namespace

std::string WriteMmdb(const TIPv4Database& Db) {
  TAnswers answers(CountriesAreRegistered(Db.Sources));
  TTree tree;
  // The IPv4 blocks go first, at ::a.b.c.d, where readers look up IPv4
  // addresses in an IPv6 tree; that part answers IPv4 blocks only, and
  // ::ffff:a.b.c.d, the IPv4-mapped form, leads to it too, as the format's
  // readers expect (and as kesl-lookup answers it).
  const uint32_t ipv4 = tree.NodeAt(0, 96);
  const TRegistryData& registry = Db.Registry;
  // Each holder's AS numbers, made once.
  std::map<uint32_t, std::vector<TASNRecord>> asns;
  auto facts = [&](const THolding& H, const TSpecialRange* First, const TSpecialRange* Last) {
    TAnswers::TFacts f;
    f.Status = H.Status;
    f.Holder = H.Holder;
    if (H.Holder != kNoHolder) {
      auto it = asns.find(H.Holder);
      if (it == asns.end()) it = asns.emplace(H.Holder, registry.HolderASNs(H.Holder)).first;
      f.ASNs = &it->second;
    }
    if (First == Last) f.Special = First;
    return f;
  };
  for (size_t i = 0; i < Db.Blocks.size(); ++i) {
    const TIPv4Block& b = Db.Blocks[i];
    if (b.Count == 0) continue;
    const uint32_t answer = answers.Of(b, facts(registry.Holding4(static_cast<uint32_t>(i)),
                                                FindSpecial(b.StartIP), FindSpecial(b.LastIP())));
    for (const TPrefix& p : b.Prefixes()) tree.Insert(TIPv6Address{p.Start}, 96 + p.Bits, answer);
  }
  // The special-purpose ranges, where no block answers: the most specific
  // first, so that each keeps its own name.
  std::vector<const TSpecialRange*> specials;
  for (const TSpecialRange& r : SpecialRanges()) specials.push_back(&r);
  std::stable_sort(specials.begin(), specials.end(), [](const auto* a, const auto* b) {
    return a->Last - a->First < b->Last - b->First;
  });
  auto bits = [](const TSpecialRange* R) {
    int n = 128;
    for (TIPv6Address size = R->Last - R->First; size; size >>= 1) --n;
    return n;
  };
  for (const TSpecialRange* r : specials) {
    if (r->Family == 4) tree.Insert(r->First & 0xFFFFFFFFu, bits(r), answers.Special(*r));
  }
  tree.Keep(ipv4);
  tree.Alias(TIPv6Address{0xFFFF} << 32, 96, ipv4);
  for (size_t i = 0; i < Db.IPv6.Blocks.size(); ++i) {
    const TIPv6Block& b = Db.IPv6.Blocks[i];
    const uint32_t answer = answers.Of(b, facts(registry.Holding6(static_cast<uint32_t>(i)),
                                                FindSpecial(b.Start), FindSpecial(b.Last)));
    for (const TIPv6Prefix& p : b.Prefixes()) tree.Insert(p.Start, p.Bits, answer);
  }
  // The IPv6 ones but those in the first /96 (::, ::1) and the IPv4-mapped
  // /96, which the IPv4 part answers in this layout.
  for (const TSpecialRange* r : specials) {
    if (r->Family == 6 && r->First >> 32 != 0 && r->First >> 32 != 0xFFFF) {
      tree.Insert(r->First, bits(r), answers.Special(*r));
    }
  }

  const auto& nodes = tree.Nodes();
  const uint64_t nodeCount = nodes.size();
  // The largest record: the data section's end, past the tree and the 16
  // bytes between them.
  const uint64_t largest = nodeCount + 16 + answers.Bytes().size();
  const int recordBits = largest < (uint64_t{1} << 24)   ? 24
                         : largest < (uint64_t{1} << 28) ? 28
                         : largest < (uint64_t{1} << 32) ? 32
                                                         : 0;
  if (recordBits == 0) throw EKeslError("the database is too large for a MaxMind DB file");
  std::string out;
  out.reserve(nodes.size() * static_cast<size_t>(recordBits) / 4 + answers.Bytes().size() + 512);
  auto value = [nodeCount](uint32_t Record) -> uint64_t {
    if (Record == 0) return nodeCount;  // no answer
    if (Record & TTree::kAnswer) return nodeCount + 16 + (Record & ~TTree::kAnswer);
    return Record;
  };
  for (const auto& node : nodes) {
    const uint64_t left = value(node[0]), right = value(node[1]);
    if (recordBits == 28) {
      // The middle byte holds the top four bits of each record.
      PutRecord(out, left & 0xFFFFFF, 3);
      out += static_cast<char>(((left >> 24) << 4) | (right >> 24));
      PutRecord(out, right & 0xFFFFFF, 3);
    } else {
      PutRecord(out, left, recordBits / 8);
      PutRecord(out, right, recordBits / 8);
    }
  }
  out.append(16, '\0');
  out += answers.Bytes();

  TMmdbData meta;
  meta.Map(9);
  meta.String("binary_format_major_version");
  meta.Unsigned(mtUint16, 2);
  meta.String("binary_format_minor_version");
  meta.Unsigned(mtUint16, 0);
  meta.String("build_epoch");
  meta.Unsigned(mtUint64, DatabaseEpoch(Db));
  meta.String("database_type");
  meta.String("Kesl-Country");
  meta.String("description");
  meta.Map(1);
  meta.String("en");
  meta.String(ExportDescription(Db));
  meta.String("ip_version");
  meta.Unsigned(mtUint16, 6);
  meta.String("languages");
  meta.Array(1);
  meta.String("en");
  meta.String("node_count");
  meta.Unsigned(mtUint32, nodeCount);
  meta.String("record_size");
  meta.Unsigned(mtUint16, static_cast<uint64_t>(recordBits));
  out += "\xAB\xCD\xEFMaxMind.com";
  out += meta.Bytes;
  return out;
}
