#include "cli/annotate.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <ostream>
#include <unistd.h>

#include "cli/answers.h"
#include "cli/lookupio.h"
#include "cli/query.h"
#include "cli/streamsearch.h"
#include "cli/workthread.h"
#include "ipdb/database.h"
#include "ipdb/inplace.h"
#include "tools/addrscan.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "tools/text.h"

namespace {

// The input is read, and the output written, in pieces of this size.
constexpr size_t kPiece = 1 << 20;
// A line's JSON answers beyond this wait in a temporary file, so that a
// line of millions of addresses takes no more memory than any other.
constexpr size_t kMaxHeldAnswers = 1 << 20;

class TAnnotator : public TAddressSink {
 public:
  TAnnotator(TAnswerWriter& Answers, bool Json, TStreamSearch& Search, TLookupIO& IO)
      : FAnswers(Answers), FJson(Json), FSearch(Search), FIO(IO) {
    FOut.reserve(kPiece + 4096);
  }
  TAnnotator(const TAnnotator&) = delete;
  TAnnotator& operator=(const TAnnotator&) = delete;
  ~TAnnotator() override {
    if (FSpill) std::fclose(FSpill);
  }

  void Text(const char* Data, size_t Size) override {
    if (!FJson) {
      FOut.append(Data, Size);
      return Written();
    }
    while (Size > 0) {
      const auto* end = static_cast<const char*>(std::memchr(Data, '\n', Size));
      const size_t n = end ? static_cast<size_t>(end - Data) : Size;
      if (n) LineText(Data, n);
      if (!end) break;
      EndLine();
      Data += n + 1;
      Size -= n + 1;
    }
  }

  void Address(std::string_view Text, const TFoundAddress& Found) override {
    if (!FJson) {
      // Answered when the piece goes out, all together.
      FOut += Text;
      FFound.push_back({FOut.size(), Text.size(), Found, FOut.size(), false});
      return Written();
    }
    // The address stands in the line's JSON string as it is (its
    // characters need no escape), where its answer finds it when the
    // piece goes out.
    LineText(Text.data(), Text.size(), false);
    FFound.push_back({FOut.size(), Text.size(), Found, kOpenLine, false});
    Written();
  }

  // The end of an input: a last line without its line end is a line too.
  void EndInput() {
    if (FJson && FLineOpen) EndLine();
  }
  // Everything found so far answered and handed out, before the program
  // waits for more input or says something on the error stream (which the
  // searches may use too). Throws what the answering met.
  void Flush() {
    HandOver();
    if (!FJson) Settle();
  }

 private:
  // Where an address's answer goes while its line is open (JSON).
  static constexpr size_t kOpenLine = SIZE_MAX;
  struct TFound {
    size_t End;   // in FOut, just after the address's text
    size_t Size;  // of its text
    TFoundAddress Found;
    // In FOut, where the answer goes (kOpenLine while its JSON line is
    // open), and whether a comma comes before it.
    size_t Insert;
    bool Comma;
  };

  // Text: a piece handed over, and the notes of its addresses, made on the
  // answering thread (which reads only the addresses of the text) while
  // the next piece is scanned. Finding the addresses is about
  // two thirds of the work, searching and noting them the rest; the text
  // itself stays with the thread that made it and puts the notes in.
  struct TPiece {
    std::string Out;
    std::vector<TFound> Found;
    std::string Notes;
    std::vector<size_t> Ends;  // where each address's note ends in Notes
  };

  void Written() {
    if (FOut.size() >= kPiece) HandOver();
  }
  // The piece so far goes to be answered and written out. A JSON line
  // still open carries its answers from piece to piece, so JSON is
  // answered here, at once.
  void HandOver() {
    if (FJson) {
      if (!FFound.empty()) Answer(FOut, FFound);
      FIO.HandOut(FOut);
    } else {
      Settle();
      FPending.Out.swap(FOut);
      FPending.Found.swap(FFound);
      if (!FPending.Found.empty()) {
        TPiece* piece = &FPending;
        FAnswering.Hand(piece);
      }
    }
    // The room that comes back is made large enough again.
    FOut.reserve(kPiece + 4096);
  }
  // Text: the piece handed over last goes out, its notes put in.
  void Settle() {
    FAnswering.Wait();
    TPiece& p = FPending;
    if (p.Out.empty()) return;
    if (!p.Found.empty()) {
      FNoted.clear();
      size_t from = 0, noteFrom = 0;
      for (size_t i = 0; i < p.Found.size(); ++i) {
        const size_t at = p.Found[i].Insert;
        FNoted.append(p.Out, from, at - from);
        FNoted.append(p.Notes, noteFrom, p.Ends[i] - noteFrom);
        from = at;
        noteFrom = p.Ends[i];
      }
      FNoted.append(p.Out, from);
      p.Out.swap(FNoted);
      p.Found.clear();
    }
    FIO.HandOut(p.Out);
  }
  // The notes of a piece's addresses (text), on the answering thread.
  void MakeNotes(TPiece& P) {
    Search(P.Found);
    P.Notes.clear();
    P.Ends.clear();
    for (const TFound& f : P.Found) {
      Note(f, P.Out, P.Notes);
      P.Ends.push_back(P.Notes.size());
    }
  }
  // Searches the addresses Found, all together, for Note to take in turn.
  void Search(const std::vector<TFound>& Found) {
    for (const TFound& f : Found) {
      uint32_t ip;
      if (AnnotatedAsIPv4(f.Found, ip)) {
        FSearch.Add(ip);
      } else {
        FSearch.Add(f.Found.IPv6);
      }
    }
    FSearch.Search();
  }
  // The answer of the next address searched, F as it stands in Out, onto
  // To.
  void Note(const TFound& F, const std::string& Out, std::string& To) {
    const std::string_view text(Out.data() + F.End - F.Size, F.Size);
    uint32_t ip;
    TIPv6Address ip6;
    if (AnnotatedAsIPv4(F.Found, ip)) {
      const TIPv4Block* b = FSearch.Next(ip);
      FAnswers.AnnotateIPv4(text, ip, b, To);
    } else {
      const TIPv6Block* b = FSearch.Next(ip6);
      FAnswers.AnnotateIPv6(text, ip6, b, To);
    }
  }
  // JSON: answers the addresses Found in Out, each answer put in the
  // addresses of its line, or, for the line still open, held until it
  // ends.
  void Answer(std::string& Out, std::vector<TFound>& Found) {
    Search(Found);
    FNoted.clear();
    size_t from = 0;
    for (const TFound& f : Found) {
      std::string* to = &FNoted;
      if (f.Insert == kOpenLine) {
        if (FHeld.size() + FSpilled) FHeld += ',';
        to = &FHeld;
      } else {
        FNoted.append(Out, from, f.Insert - from);
        from = f.Insert;
        if (f.Comma) FNoted += ',';
      }
      Note(f, Out, *to);
      if (FHeld.size() > kMaxHeldAnswers) Spill();
    }
    FNoted.append(Out, from);
    Out.swap(FNoted);
    Found.clear();
  }
  // Text of the current line, into its JSON string.
  void LineText(const char* Data, size_t Size, bool MayWrite = true) {
    if (!FLineOpen) {
      FOut += "{\"line\":\"";
      FLineOpen = true;
    }
    std::string_view text(Data, Size);
    if (!FCut.empty()) {
      // A UTF-8 sequence that the last piece cut: completed by this one.
      const size_t take = std::min<size_t>(text.size(), 4 - FCut.size());
      std::string joined = FCut + std::string(text.substr(0, take));
      const size_t used = AppendJsonText(FOut, joined, false);
      if (used < FCut.size()) {
        FCut = joined.substr(used);
        if (MayWrite) Written();
        return;
      }
      text.remove_prefix(used - FCut.size());
      FCut.clear();
    }
    const size_t used = AppendJsonText(FOut, text, false);
    FCut.assign(text.substr(used));
    if (MayWrite) Written();
  }
  void EndLine() {
    if (!FLineOpen) FOut += "{\"line\":\"";
    AppendJsonText(FOut, FCut, true);
    FCut.clear();
    FOut += "\",\"addresses\":[";
    // The line's answers so far wait in FHeld or a file (a line longer
    // than a piece): those still to come join them. Else they all go here,
    // when the piece goes out.
    const bool held = FSpill || !FHeld.empty();
    if (held) {
      Answer(FOut, FFound);
    } else {
      // The line's addresses are the last found; the first of them takes
      // no comma.
      TFound* first = nullptr;
      for (auto f = FFound.rbegin(); f != FFound.rend() && f->Insert == kOpenLine; ++f) {
        f->Insert = FOut.size();
        f->Comma = true;
        first = &*f;
      }
      if (first) first->Comma = false;
    }
    if (FSpill) {
      // What waited in the file comes first, in the order it was found.
      std::rewind(FSpill);
      Flush();
      char buf[1 << 16];
      size_t n;
      while ((n = std::fread(buf, 1, sizeof buf, FSpill)) > 0) FIO.WriteOut(buf, n);
      std::fclose(FSpill);
      FSpill = nullptr;
      FSpilled = 0;
    }
    FOut += FHeld;
    FOut += "]}\n";
    FHeld.clear();
    FLineOpen = false;
    Written();
  }
  void Spill() {
    if (!FSpill) FSpill = std::tmpfile();
    if (!FSpill || std::fwrite(FHeld.data(), 1, FHeld.size(), FSpill) != FHeld.size()) {
      throw EKeslError(std::string("cannot hold a line's answers in a temporary file: ") +
                       std::strerror(errno));
    }
    FSpilled += FHeld.size();
    FHeld.clear();
  }

  TAnswerWriter& FAnswers;
  const bool FJson;
  // The addresses not yet answered (in text, those in FOut), and the room
  // to answer them in.
  std::vector<TFound> FFound;
  TStreamSearch& FSearch;
  std::string FNoted;
  TLookupIO& FIO;
  std::string FOut;
  // JSON: the line is open, a UTF-8 sequence cut at the end of a piece,
  // the line's answers so far, and those that wait in a file.
  bool FLineOpen = false;
  std::string FCut, FHeld;
  std::FILE* FSpill = nullptr;
  uint64_t FSpilled = 0;
  // Text: the piece whose notes are being made, and the thread that makes
  // them, the only user of FAnswers and FSearch meanwhile. Last, so that
  // it has stopped before the rest goes.
  TPiece FPending;
  TWorkThread<TPiece*> FAnswering{[this](TPiece*& Piece) { MakeNotes(*Piece); }};
};

// Reads one input through the scanner; false, after saying why, when it
// cannot be read.
bool AnnotateInput(const std::string& Name, TAnnotator& Annotator, std::vector<char>& Buffer,
                   TLookupIO& IO) {
  const bool standardInput = Name == "-";
  int fd = -1;
  if (!standardInput) {
    fd = ::open(Name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      Annotator.Flush();
      IO.Err() << "kesl-lookup: cannot read " << Name << ": " << std::strerror(errno) << "\n";
      return false;
    }
  }
  const TFinally close([fd] {
    if (fd >= 0) ::close(fd);
  });
  TAddressScanner scanner(Annotator);
  bool read = true;
  for (;;) {
    // What has come is written out, answered, before the program waits
    // for more: a log followed as it grows (tail -f) is annotated line by
    // line.
    if (standardInput ? IO.InputWaits() : ReadWouldWait(fd)) Annotator.Flush();
    size_t n = 0;
    if (standardInput) {
      n = IO.Read(Buffer.data(), Buffer.size());
    } else {
      const ssize_t got = ::read(fd, Buffer.data(), Buffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) {
        Annotator.Flush();
        IO.Err() << "kesl-lookup: cannot read " << Name << ": " << std::strerror(errno) << "\n";
        read = false;
        break;
      }
      n = static_cast<size_t>(got);
    }
    if (n == 0) break;
    scanner.Feed(Buffer.data(), n);
  }
  scanner.Finish();
  Annotator.EndInput();
  return read;
}

}  // namespace

int AnnotateInputs(const std::vector<std::string>& Inputs, TAnswerWriter& Answers, bool Json,
                   TStreamSearch& Search, TLookupIO& IO) {
  TAnnotator annotator(Answers, Json, Search, IO);
  std::vector<char> buffer(kPiece);
  bool all = true;
  if (Inputs.empty()) {
    all = AnnotateInput("-", annotator, buffer, IO);
  } else {
    for (const std::string& name : Inputs) all &= AnnotateInput(name, annotator, buffer, IO);
  }
  annotator.Flush();
  return all ? 0 : 1;
}
