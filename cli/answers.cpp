#include "cli/answers.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/lookupdb.h"
#include "cli/lookupio.h"
#include "cli/query.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/inplace.h"
#include "ipdb/registries.h"
#include "ipdb/special.h"
#include "tools/resolve.h"
#include "tools/text.h"

class TAnswerWriter::TImpl {
 public:
  // Answers come from Mapped, the file searched where it lies, while it is
  // given; else from Db, loaded whole.
  TImpl(TLookupDatabase& Db, TAnswerStyle Style, TLookupIO& IO)
      : FDb(Db),
        FPreferIPv6(Style.PreferIPv6),
        FNoResolve(Style.NoResolve),
        FNotation(Style.Notation),
        FFormat(Style.Format),
        FFields(std::move(Style.Fields)),
        FIO(IO),
        FBuf(new char[kBufSize]),
        FNeedAddress(std::find(FFields.begin(), FFields.end(), fdAddress) != FFields.end()),
        // Today's lines show none of them.
        FNeedFacts(FFormat != fmLines && std::any_of(FFields.begin(), FFields.end(), [](TField F) {
                     // The registry of an address in free space is the facts' too.
                     return F == fdRegistry || F == fdAllocation || F == fdHolder || F == fdASNs ||
                            F == fdSpecial;
                   })) {}

  // The column names, for tsv and csv.
  void Header() {
    if (FFormat == fmLines) return Put(kLinesHeader);
    for (size_t i = 0; i < FFields.size(); ++i) {
      if (i) Put(FFormat == fmCsv ? "," : "\t");
      Put(kFieldNames[FFields[i]]);
    }
    Put(FFormat == fmCsv ? "\r\n" : "\n");
  }

  // Answers one query; returns false when it was not located.
  bool Answer(std::string_view Query) {
    uint32_t ip = 0;
    TIPv6Address ip6 = 0;
    bool canonical = false;
    switch (ReadNumericQuery(Query, ip, ip6, &canonical)) {
      case 4:
        return Answer4(Query, ip, Find(ip));
      case 6:
        return Answer6(Query, ip6, Find(ip6), canonical);
      default:
        return AnswerHost(Query);
    }
  }

  // A query that is no numeric address: refused, or a host name.
  bool AnswerHost(std::string_view Query) {
    uint32_t as = 0;
    if (ReadASNQuery(Query, as)) return AnswerASN(Query, as);
    const THostQuery q = ReadHostQuery(Query, FNoResolve, FPreferIPv6);
    if (!q.Found) return Failed(q.Shown, q.Error);
    if (q.Address.IsIPv6) return Answer6(Query, q.Address.IPv6, Find(q.Address.IPv6));
    return Answer4(Query, q.Address.IPv4, Find(q.Address.IPv4));
  }

  // An AS number's answer, from its record: allocated and assigned ones
  // are found, available and reserved ones not, with their allocation.
  bool AnswerASN(std::string_view Query, uint32_t AS) {
    TASNRecord record;
    TASNShown shown;
    bool listed = false;
    FDb.Read(
        [&] {
          listed = FDb.FindASN(AS, record, FFacts);
          if (!listed) return;
          shown.Record = record;
          shown.CountryCode = record.CountryCode;
          shown.Date = record.Date;
          shown.Country = record.CountryCode ? FDb.Country(record.CountryCode) : nullptr;
          shown.Center = FDb.Center(record.CenterID);
        },
        FIO.Err());
    const std::string address = "AS" + std::to_string(AS);
    const bool found = listed && shown.Center && record.Holding.Status != alAvailable &&
                       record.Holding.Status != alReserved;
    if (listed && !found) FFacts.FreeRegistry = record.CenterID;
    if (FFormat != fmLines) {
      Record(Query, found ? "ok" : "not_found", address, found ? &shown : nullptr, {});
      return found;
    }
    Put(Query);
    Put("\t");
    Put(address);
    if (!found) {
      Put("\t-\n");
      return false;
    }
    Put("\t");
    Put(ASNText(record));
    Put("\t");
    if (shown.Country) {
      PutText(CodeToStr(record.CountryCode));
      Put("\t");
      Put(CountryName(shown.Country));
    } else {
      Put("-\t-");
    }
    Put("\t");
    Put(CenterName(shown.Center));
    Put("\t");
    Put(std::to_string(record.Date));
    Put("\n");
    return true;
  }

  // An IPv4 address's answer, from its block b (nullptr for none).
  bool Answer4(std::string_view Query, uint32_t ip, const TIPv4Block* b) {
    if (FNeedFacts) FDb.Read([&] { FDb.Facts(ip, b, FFacts); }, FIO.Err());
    if (FFormat != fmLines) {
      Record(Query, b ? "ok" : "not_found", IPToStr(ip), b, {});
      return b != nullptr;
    }
    // Room for the fixed fields; the texts of any length are put with Put.
    Reserve(Query.size() + 64);
    Put(Query);
    *FEnd++ = '\t';
    FEnd = FormatIP(ip, FEnd);
    if (!b) {
      Put("\t-\n");
      return false;
    }
    *FEnd++ = '\t';
    PutBlock(*b);
    PutRest(*b);
    return true;
  }

  // An IPv6 address's answer; Canonical when Query is the address as it
  // is written (most are), which then need not be written again.
  bool Answer6(std::string_view Query, TIPv6Address Address, const TIPv6Block* b,
               bool Canonical = false) {
    char text[kMaxIPv6Text];
    const std::string_view address =
        Canonical ? Query : std::string_view(text, FormatIPv6(Address, text) - text);
    if (FNeedFacts) FDb.Read([&] { FDb.Facts(Address, b, FFacts); }, FIO.Err());
    if (FFormat != fmLines) {
      Record(Query, b ? "ok" : "not_found", address, b, {});
      return b != nullptr;
    }
    Put(Query);
    Reserve(2 * kMaxIPv6Text + 8);
    *FEnd++ = '\t';
    FEnd = std::copy(address.begin(), address.end(), FEnd);
    if (!b) {
      Put("\t-\n");
      return false;
    }
    *FEnd++ = '\t';
    if (FNotation == nmRange) {
      // The range straight into the buffer, as AsText writes it.
      FEnd = FormatIPv6(b->Start, FEnd);
      FEnd = std::copy_n(" - ", 3, FEnd);
      FEnd = FormatIPv6(b->Last, FEnd);
    } else {
      Put(b->AsText(FNotation));
    }
    PutRest(*b);
    return true;
  }

  void Flush() {
    FIO.WriteOut(FBuf.get(), static_cast<size_t>(FEnd - FBuf.get()));
    FEnd = FBuf.get();
  }

  void AnnotateIPv6(std::string_view Text, TIPv6Address IP, const TIPv6Block* Block,
                    std::string& Out) {
    if (FNeedFacts) FDb.Read([&] { FDb.Facts(IP, Block, FFacts); }, FIO.Err());
    AnnotateBlock(Text, Block, FNeedAddress ? IPv6ToStr(IP) : "", Out);
  }
  void AnnotateIPv4(std::string_view Text, uint32_t IP, const TIPv4Block* Block, std::string& Out) {
    if (FNeedFacts) FDb.Read([&] { FDb.Facts(IP, Block, FFacts); }, FIO.Err());
    if (!FNeedAddress) return AnnotateBlock(Text, Block, {}, Out);
    char address[16];
    AnnotateBlock(Text, Block, std::string_view(address, FormatIP(IP, address) - address), Out);
  }
  template <typename TBlock>
  void AnnotateBlock(std::string_view Text, const TBlock* B, std::string_view Address,
                     std::string& Out) {
    if (FFormat == fmBrackets) {
      // An address in no block: "[-]", unless a chosen field knows of it
      // (its special-purpose range, its free space).
      if (!B && (!FNeedFacts || (!FFacts.Special && FFacts.Allocation == alUnknown))) {
        return void(Out += "[-]");
      }
      const uint16_t country = B ? B->CountryCode : 0;
      const char code[2] = {static_cast<char>(country >> 8), static_cast<char>(country & 255)};
      if (B && FFields.size() == 1 && FFields[0] == fdCountry && !IsControlChar(code[0]) &&
          !IsControlChar(code[1])) {
        // The common note, without the record's machinery.
        (Out += '[').append(code, 2) += ']';
        return;
      }
    }
    BuildRecord(Text, B ? "ok" : "not_found", Address, B, {});
    Out += FRecordText;
    Out += FFormat == fmJson ? '}' : ']';
  }

 private:
  // Small enough to come from the heap, not a mapping of its own.
  static constexpr size_t kFlushAt = 1 << 16;
  static constexpr size_t kBufSize = kFlushAt + 4096;

  // The fields of a line after the block: country, its name, registry, date.
  template <typename TBlock>
  void PutRest(const TBlock& B) {
    Reserve(8);
    *FEnd++ = '\t';
    const char code[2] = {static_cast<char>(B.CountryCode >> 8),
                          static_cast<char>(B.CountryCode & 255)};
    PutText(std::string_view(code, 2));
    Put("\t");
    Put(CountryName(B.Country));
    Put("\t");
    Put(CenterName(B.Center));
    Reserve(16);
    *FEnd++ = '\t';
    FEnd = std::to_chars(FEnd, FEnd + 12, B.Date).ptr;
    *FEnd++ = '\n';
  }

  // Makes room for N more bytes, flushing a buffer that is full enough.
  void Reserve(size_t N) {
    if (static_cast<size_t>(FEnd - FBuf.get()) + N > kFlushAt) Flush();
  }
  void Put(std::string_view Text) {
    if (Text.size() > kBufSize / 2) {
      Flush();
      FIO.WriteOut(Text.data(), Text.size());
      return;
    }
    Reserve(Text.size());
    std::memcpy(FEnd, Text.data(), Text.size());
    FEnd += Text.size();
  }
  // A text from the database, with any control characters written out.
  void PutText(std::string_view Text) {
    if (HasControlChars(Text)) return Put(EscapeControlChars(Text));
    Put(Text);
  }
  void PutBlock(const TIPv4Block& B) {
    if (FNotation == nmCIDR || FNotation == nmMask) return Put(B.AsText(FNotation));
    Reserve(TIPv4Block::kMaxRangeText);
    FEnd = B.FormatRange(FEnd);
  }
  // A query that gave no address.
  bool Failed(std::string_view Query, std::string_view Message) {
    FFacts = TAddressFacts();
    if (FFormat != fmLines) {
      Record(Query, "error", {}, static_cast<const TIPv4Block*>(nullptr), Message);
      return false;
    }
    Put(Query);
    Put("\terror\t");
    PutText(Message);
    Put("\n");
    return false;
  }
  // One answer with the chosen fields; a field that does not apply is
  // empty, or null in JSON.
  template <typename TBlock>
  void Record(std::string_view Query, std::string_view Status, std::string_view Address,
              const TBlock* B, std::string_view Message) {
    BuildRecord(Query, Status, Address, B, Message);
    FRecordText += FFormat == fmJson ? "}\n" : FFormat == fmCsv ? "\r\n" : "\n";
    Put(FRecordText);
  }
  // The same into FRecordText, without its end: a JSON object still open,
  // the fields of a line, an annotation still open.
  template <typename TBlock>
  void BuildRecord(std::string_view Query, std::string_view Status, std::string_view Address,
                   const TBlock* B, std::string_view Message) {
    const bool located = B != nullptr, addressed = Status == "ok" || Status == "not_found";
    FRecordText.clear();
    if (FFormat == fmJson) FRecordText += '{';
    if (FFormat == fmBrackets) FRecordText += '[';
    for (size_t i = 0; i < FFields.size(); ++i) {
      if (i) FRecordText += FFormat == fmTsv ? '\t' : ',';
      const TField f = FFields[i];
      if (FFormat == fmJson) (FRecordText += '"').append(kFieldNames[f]) += "\":";
      FValue.clear();
      bool applies = true;
      switch (f) {
        case fdQuery:
          FValue = Query;
          break;
        case fdStatus:
          FValue = Status;
          break;
        case fdAddress:
          applies = addressed;
          if (applies) FValue = Address;
          break;
        case fdBlock:
          applies = located;
          if (applies) FValue = B->AsText(FNotation);
          break;
        case fdCountry:
          applies = located && B->Country;
          if (applies) FValue = EscapeControlChars(CodeToStr(B->CountryCode));
          break;
        case fdCountryName:
          applies = located && B->Country;
          if (applies) FValue = CountryName(B->Country);
          break;
        case fdRegistry:
          // An address in free space: the registry that holds it.
          applies = located || FFacts.FreeRegistry != 0;
          if (located) FValue = CenterName(B->Center);
          if (!located && applies) FValue = RegistryName(FFacts.FreeRegistry);
          break;
        case fdDate:
          applies = located && B->Date != 0;
          if (applies) FValue = std::to_string(B->Date);
          break;
        case fdMessage:
          applies = !Message.empty();
          FValue = EscapeControlChars(Message);
          break;
        case fdCountryKind:
          applies = located && B->Country;
          if (applies) FValue = CountryKind();
          break;
        case fdAllocation:
          FValue = AllocationName(FFacts.Allocation);
          applies = !FValue.empty();
          break;
        case fdHolder:
          applies = !FFacts.Holder.empty();
          FValue = EscapeControlChars(FFacts.Holder);
          break;
        case fdASNs:
          applies = FFacts.ASNsKnown;
          if (applies) ASNList(FFacts.ASNs);
          break;
        case fdSpecial:
          applies = FFacts.Special != nullptr;
          if (applies) FValue = FFacts.Special->Name;
          break;
        case fdCount:
          break;
      }
      AppendValue(applies, f == fdASNs);
    }
  }
  // The AS numbers into FValue: a JSON array, else joined by commas (by
  // spaces in an annotation, whose fields commas separate).
  void ASNList(const std::vector<TASNRecord>& Records) {
    const char* between = FFormat == fmBrackets ? " " : ",";
    if (FFormat == fmJson) FValue += '[';
    bool first = true;
    for (const TASNRecord& r : Records) {
      for (uint64_t as = r.First; as <= r.Last(); ++as) {
        if (!first) FValue += between;
        first = false;
        FValue += std::to_string(as);
      }
    }
    if (FFormat == fmJson) FValue += ']';
  }
  std::string RegistryName(uint16_t ID) {
    if (const TIPv4Center* c = FDb.Center(ID)) return CenterName(c);
    const TRegistryInfo* r = RegistryByID(ID);
    return r ? std::string(r->Name) : std::to_string(ID);
  }
  // FValue in the format's quoting; Raw: a JSON value as it is (an array).
  void AppendValue(bool Applies, bool Raw = false) {
    if (FFormat == fmJson) {
      if (!Applies) {
        FRecordText += "null";
        return;
      }
      if (Raw) {
        FRecordText += FValue;
        return;
      }
      FRecordText += '"';
      // JSON is UTF-8: a byte that starts no valid sequence (a query in
      // another encoding) stands as U+FFFD.
      AppendJsonText(FRecordText, FValue, true);
      FRecordText += '"';
    } else if (FFormat == fmCsv) {
      FRecordText += CsvField(FValue);
    } else if (FFormat == fmBrackets) {
      // An annotation stays on its line and keeps its brackets.
      for (const char c : FValue) {
        FRecordText += IsControlChar(c) ? ' ' : c == '[' ? '(' : c == ']' ? ')' : c;
      }
    } else {
      // Tab-separated values hold no tab or line end.
      for (const char c : FValue) FRecordText += c == '\t' || c == '\n' || c == '\r' ? ' ' : c;
    }
  }
  // A single search, as for a query given as an argument or a host name,
  // guarded as a stream's are.
  template <typename TAddress, typename TBlock>
  const TBlock* FindOne(TAddress IP, TBlock& Found) {
    bool held = false;
    FDb.Read([&] { held = FDb.Find(IP, Found); }, FIO.Err());
    return held ? &Found : nullptr;
  }
  const TIPv4Block* Find(uint32_t IP) { return FindOne(IP, FFound); }
  const TIPv6Block* Find(TIPv6Address IP) { return FindOne(IP, FFound6); }
  // The registry's name as it is written: as it is, unless it holds a
  // control character, which a database of ours never gives it.
  const std::string& CenterName(const TIPv4Center* C) {
    if (!HasControlChars(C->Name)) return C->Name;
    FEscapedName = EscapeControlChars(C->Name);
    return FEscapedName;
  }
  // The name as UTF-8, from a small cache keyed by the country's code.
  const std::string& CountryName(const TIPv4Country* C) {
    // Names of a database that another has replaced are gone with it.
    if (!FNames || FNamesOf != FDb.Generation()) {
      FNames = std::make_unique<TName[]>(kNameSlots);  // not for a run without answers
      FNamesOf = FDb.Generation();
    }
    TName& slot = FNames[(C->Code * 31u + (C->Code >> 8)) % kNameSlots];
    if (slot.Country != C) {
      slot.Country = C;
      slot.Utf8 = EscapeControlChars(Latin1ToUtf8(C->Name));
    }
    return slot.Utf8;
  }

  struct TName {
    const TIPv4Country* Country = nullptr;
    std::string Utf8;
  };
  // An AS record as an answer shows it, in the block fields' place.
  struct TASNShown {
    TASNRecord Record;
    uint16_t CountryCode = 0;
    uint32_t Date = 0;
    const TIPv4Country* Country = nullptr;
    const TIPv4Center* Center = nullptr;
    std::string AsText(TNotation) const { return ASNText(Record); }
  };
  TLookupDatabase& FDb;
  bool FPreferIPv6;
  bool FNoResolve;
  std::string FEscapedName;  // the last registry name that needed escaping
  TIPv4Block FFound;         // the last block found in the mapping
  TIPv6Block FFound6;
  TNotation FNotation;
  TFormat FFormat;
  std::vector<TField> FFields;
  TLookupIO& FIO;
  std::unique_ptr<char[]> FBuf;
  char* FEnd = FBuf.get();
  std::string FRecordText, FValue;
  const bool FNeedAddress;  // the fields include the address
  const bool FNeedFacts;    // the fields include what the registries' files or IANA say
  TAddressFacts FFacts;     // of the answer being written
  // What the country fields mean, for every answer.
  const char* CountryKind() const { return CountryKindName(FDb.CountryKind()); }
  static constexpr size_t kNameSlots = 512;
  std::unique_ptr<TName[]> FNames;
  uint64_t FNamesOf = 0;  // the database generation the names are of
};

TAnswerWriter::TAnswerWriter(TLookupDatabase& Db, TAnswerStyle Style, TLookupIO& IO)
    : FImpl(std::make_unique<TImpl>(Db, std::move(Style), IO)) {}

TAnswerWriter::~TAnswerWriter() { FImpl->Flush(); }

void TAnswerWriter::Header() { FImpl->Header(); }

bool TAnswerWriter::Answer(std::string_view Query) { return FImpl->Answer(Query); }

bool TAnswerWriter::AnswerHost(std::string_view Query) { return FImpl->AnswerHost(Query); }

bool TAnswerWriter::AnswerIPv4(std::string_view Query, uint32_t IP, const TIPv4Block* Block) {
  return FImpl->Answer4(Query, IP, Block);
}

bool TAnswerWriter::AnswerIPv6(std::string_view Query, TIPv6Address IP, const TIPv6Block* Block,
                               bool Canonical) {
  return FImpl->Answer6(Query, IP, Block, Canonical);
}

void TAnswerWriter::Flush() { FImpl->Flush(); }

void TAnswerWriter::AnnotateIPv4(std::string_view Text, uint32_t IP, const TIPv4Block* Block,
                                 std::string& Out) {
  FImpl->AnnotateIPv4(Text, IP, Block, Out);
}

void TAnswerWriter::AnnotateIPv6(std::string_view Text, TIPv6Address IP, const TIPv6Block* Block,
                                 std::string& Out) {
  FImpl->AnnotateIPv6(Text, IP, Block, Out);
}
