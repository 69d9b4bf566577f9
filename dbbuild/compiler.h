// The database compiler behind kesl-mkdb: reads registry delegation files
// and range files, checks the blocks, and writes the bodies of a database
// file that LoadFromFile reads.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "dbbuild/readers.h"
#include "ipdb/provenance.h"

class TDatabaseCompiler {
 public:
  TDatabaseCompiler();

  // Reads one input file, gzip- or bzip2-compressed or not, and detects its
  // kind by content. EKeslError for unreadable, corrupt or unknown input.
  void AddFile(const std::string& Path);
  // The same for data in memory; Name is used in messages and, without its
  // folder, as the source's name. Registry, when given, is the registry the
  // data came from: a delegation file's records of any other are skipped,
  // and a version line that names another refuses the file.
  void AddData(const std::string& Name, std::string_view Data, const std::string& Registry = "");

  // Sorts the blocks of each family and drops exact duplicates. Overlaps are refused with an
  // EKeslError naming the first conflicting pair, unless ResolveOverlaps:
  // then the block with the later date (among equal dates, the one read
  // later) keeps the addresses two blocks share, the other keeps the rest,
  // so no address loses its answer, and Overlaps() tells each pair.
  void Finish(bool ResolveOverlaps = false);
  const std::vector<std::string>& Overlaps() const { return FOverlaps; }
  // After Finish: the IPv4 addresses that blocks of two registries or more
  // both held (each counted once).
  uint64_t CrossRegistryOverlap() const { return FCrossRegistryOverlap; }

  // Country names for codes outside the built-in table (UTF-8 JSON of
  // iso-codes); missing names fall back to the code.
  void LoadCountryNames(const std::string& IsoCodesJson);
  void SetCountryNames(std::map<uint16_t, std::string> Names) { FNames = std::move(Names); }

  // A binary body: only registries and countries the built-in tables lack.
  // After Finish it ends in a trailer that marks its blocks as sorted and
  // disjoint.
  std::string BinaryBody() const;
  // A text body of delegation lines; EKeslError naming the registries and
  // countries the text format cannot carry.
  std::string TextBody() const;

  // YYYYMMDD from --date, the inputs' version lines or their file dates.
  std::string HeaderDate(const std::string& Given) const;

  const std::vector<TInputBlock>& Blocks() const { return FBlocks; }
  const std::vector<TInputBlock6>& Blocks6() const { return FBlocks6; }
  // What extended delegation files add: the holders their opaque ids name
  // (a holder's number is its index), the AS number records and the
  // available and reserved ranges, each ascending and without overlap after
  // Finish (a later record loses what an earlier one holds).
  // Each holder's registry, by number.
  const std::vector<uint16_t>& Holders() const { return FHolders; }
  const std::vector<TInputASN>& ASNs() const { return FASNs; }
  const std::vector<TInputBlock>& Free() const { return FFree; }
  const std::vector<TInputBlock6>& Free6() const { return FFree6; }
  // The trailer's registry tables for the blocks as they are; empty when no
  // input named holders (range files, standard delegation files).
  TRegistryTables RegistryTables() const;
  // Lines skipped, by reason.
  const std::map<std::string, uint64_t>& Skipped() const { return FSkipped; }
  uint64_t Duplicates() const { return FDuplicates; }
  // Registries and countries that the output adds to the built-in ones.
  std::vector<std::pair<uint16_t, std::string>> NewRegistries() const;
  std::vector<uint16_t> NewCountries() const;
  std::string RegistryName(uint16_t ID) const;
  void SetProgress(std::ostream* Progress) { FProgress = Progress; }
  // The input files, for the database's provenance: name, date of the data
  // (version line, else the file's time), MD5 of the bytes as read.
  const std::vector<TSource>& Sources() const { return FSources; }
  // The licence recorded with every source.
  void SetLicence(const std::string& Licence) { FLicence = Licence; }

 private:
  uint16_t RegistryID(std::string_view Name);
  uint32_t HolderNumber(uint16_t Registry, std::string_view Id);
  void Add(const TInputBlock& B);
  void Add(const TInputBlock6& B);
  void ShowProgress(const std::string& Name, uint64_t Lines, bool Done);
  // The readers' way into this compiler, for one read.
  TInputSink Sink();
  // A new input's index in FFiles.
  uint32_t NewFile(const std::string& Name);
  // AddData after the source is noted: sniffs, decompresses (once: Unpacked
  // data that is compressed again is refused), reads.
  void AddContent(const std::string& Name, std::string_view Data, bool Unpacked = false);
  template <typename TBlock>
  std::string Where(const TBlock& B) const;
  template <typename TBlock>
  void FinishBlocks(std::vector<TBlock>& Blocks, bool ResolveOverlaps);

  std::vector<TInputBlock> FBlocks;
  std::vector<TInputBlock6> FBlocks6;
  std::vector<uint16_t> FHolders;
  // Registry ID (two bytes) and opaque id -> holder number.
  std::unordered_map<std::string, uint32_t> FHolderNumbers;
  std::vector<TInputASN> FASNs;
  std::vector<TInputBlock> FFree;
  std::vector<TInputBlock6> FFree6;
  std::vector<std::string> FFiles;
  std::vector<TSource> FSources;
  std::vector<std::string> FOverlaps;
  std::string FLicence;
  std::map<std::string, uint16_t> FNewRegistries;  // upper-case name -> ID, unknown ones
  std::map<std::string, uint64_t> FSkipped;
  std::map<uint16_t, std::string> FNames;  // Latin-1 country names
  uint64_t FDuplicates = 0;
  uint64_t FCrossRegistryOverlap = 0;
  std::string FOwnRegistry;              // of the data being read, "" when not known
  TCountryKind FSourceKind = ckUnknown;  // of the data being read
  bool FFinished = false;                // Finish ran after the last block was added
  uint32_t FNewestVersionDate = 0;
  uint32_t FSourceVersionDate = 0;  // of the source being read
  int64_t FNewestFileTime = 0;
  std::ostream* FProgress = nullptr;
};
