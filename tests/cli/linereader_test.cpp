#include "cli/linereader.h"

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "cli/lookupio.h"
#include "testutil.h"

namespace {

// Standard input in pieces of at most Step bytes, as a pipe delivers it.
class TPieceIO : public TLookupIO {
 public:
  TPieceIO(std::string Input, size_t Step) : FInput(std::move(Input)), FStep(Step) {}
  size_t Read(char* Buffer, size_t Size) override {
    const size_t n = std::min({Size, FStep, FInput.size() - FAt});
    FInput.copy(Buffer, n, FAt);
    FAt += n;
    return n;
  }
  void WriteOut(const char*, size_t) override {}
  std::ostream& Out() override { return FOut; }
  std::ostream& Err() override { return FOut; }

 private:
  std::string FInput;
  size_t FStep, FAt = 0;
  std::ostringstream FOut;
};

struct TLine {
  std::string Text;
  bool Cut;
  bool operator==(const TLine&) const = default;
};

std::vector<TLine> ReadAll(const std::string& Input, size_t Step, size_t Max) {
  TPieceIO io(Input, Step);
  TLineReader reader(io, Max);
  std::vector<TLine> lines;
  std::string_view line;
  bool cut = false;
  while (reader.Next(line, cut)) lines.push_back({std::string(line), cut});
  return lines;
}

}  // namespace

TEST(LineReaderTest, LinesTrimmedWhateverPiecesTheInputComesIn) {
  const std::string input = "  8.8.8.8 \r\n\n\t1.1.1.1\nexample.org";
  const std::vector<TLine> want = {
      {"8.8.8.8", false}, {"", false}, {"1.1.1.1", false}, {"example.org", false}};
  for (const size_t step : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, input.size()}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(ReadAll(input, step, 64), want);
  }
  EXPECT_TRUE(ReadAll("", 1, 64).empty());
  // Only blanks are trimmed: other control characters belong to the query.
  EXPECT_EQ(ReadAll("\x1b[1m8.8.8.8\x7f\v\n", 4, 64),
            (std::vector<TLine>{{"\x1b[1m8.8.8.8\x7f\v", false}}));
}

TEST(LineReaderTest, LongLinesKeepTheirFirstBytesAndTheNextLineIsWhole) {
  // A line of Max bytes is whole; one byte more is cut, blanks and all.
  const std::string max(16, 'a'), over = std::string(16, 'b') + " ";
  for (const size_t step : {size_t{1}, size_t{5}, size_t{1 << 16}}) {
    SCOPED_TRACE(step);
    EXPECT_EQ(ReadAll(max + "\n" + over + "\nnext\n", step, 16),
              (std::vector<TLine>{{max, false}, {std::string(16, 'b'), true}, {"next", false}}));
  }
}

TEST(LineReaderTest, LinesAcrossTheBufferEdgeAndAnEndlessLine) {
  // The reader's buffer holds 65,536 bytes: lines are put across its edge.
  std::string input;
  std::vector<TLine> want;
  for (int i = 0; input.size() < 3 * 65536; ++i) {
    const std::string q = std::to_string(i) + "." + std::string(static_cast<size_t>(i % 29), 'x');
    input += q + "\n";
    want.push_back({q, false});
  }
  EXPECT_EQ(ReadAll(input, 65536, 4096), want);
  EXPECT_EQ(ReadAll(input, 4093, 4096), want);
  // A megabyte without an end is one cut line of Max bytes.
  const auto endless = ReadAll(std::string(1 << 20, 'z'), 65536, 4096);
  ASSERT_EQ(endless.size(), 1u);
  EXPECT_EQ(endless[0], (TLine{std::string(4096, 'z'), true}));
}
