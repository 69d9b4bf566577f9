// What the body readers of one load share: the blocks they append to, the
// name of the file for messages, and the progress report. The loader makes
// one for each load; the readers never call back into the database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "ipdb/database.h"
#include "tools/errors.h"

struct TRegistryInfo;

// The "not valid" error of a load: it names FileName, or says "the data"
// for a body read without a file.
[[noreturn]] inline void ThrowInvalidFile(const std::string& FileName) {
  if (FileName.empty()) throw EDatabaseError("The data is not a valid IPv4 database body");
  throw EDatabaseError("The file " + FileName + " is not valid or unknown IPv4 database file");
}

class TLoadContext {
 public:
  // Blocks must outlive the context; Progress, when given, is called as a
  // reader advances.
  TLoadContext(std::vector<TIPv4Block>& Blocks, std::string FileName,
               std::function<void()> Progress)
      : FBlocks(Blocks),
        FFileName(std::move(FileName)),
        FProgress(std::move(Progress)),
        FInOrder(Blocks.empty() ? 0 : SIZE_MAX) {}
  TLoadContext(const TLoadContext&) = delete;
  TLoadContext& operator=(const TLoadContext&) = delete;

  // Appends a block read from a body, noting whether the blocks still
  // arrive in order, so that sorting need not check them again.
  void Append(const TIPv4Block& Block) {
    if (FInOrder == FBlocks.size() && (FBlocks.empty() || !BlockLess(Block, FBlocks.back()))) {
      ++FInOrder;
    }
    FBlocks.push_back(Block);
  }
  std::vector<TIPv4Block>& Blocks() { return FBlocks; }
  size_t BlockCount() const { return FBlocks.size(); }
  // True when every block of the list arrived in order during this load.
  bool InOrder() const { return FInOrder == FBlocks.size(); }
  const std::string& FileName() const { return FFileName; }
  [[noreturn]] void Invalid() const { ThrowInvalidFile(FFileName); }
  bool WantsProgress() const { return static_cast<bool>(FProgress); }
  void Progress() const {
    if (FProgress) FProgress();
  }

  // The text reader's registry of the line before: lines come in long runs
  // of one registry.
  const TRegistryInfo* LastNic = nullptr;

 private:
  std::vector<TIPv4Block>& FBlocks;
  std::string FFileName;
  std::function<void()> FProgress;
  size_t FInOrder;  // Blocks[0 .. FInOrder) arrived in order (SIZE_MAX: unknown)
};
