// Benchmarks with targets: lookups, loads, memory, the window's list and
// copy, and the command-line program as a whole process. Each ratio is
// measured in this run against its reference; the last lines read
//   goal NAME MEASURED TARGET pass|fail
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <random>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QUrl>
#include <benchmark/benchmark.h>
#include <bzlib.h>
#include <zlib.h>

#include "dbbuild/compiler.h"
#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/encoder.h"
#include "ipdb/registries.h"
#include "keslmain/addresstable.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "keslmain/tablewindow.h"
#include "tools/pages.h"
#include "utilmain/dialogs.h"

namespace {

struct TData {
  std::string Dir;
  std::map<std::string, std::string> Files;   // name -> path
  std::map<std::string, std::string> Bodies;  // name -> compressed body
  std::vector<uint32_t> Uniform, Inside;
  std::unique_ptr<TIPv4Database> Db;
  uint16_t LargestCountry = 0;
  std::string Lines;   // path of one million numeric query lines
  std::string Lines6;  // the same of IPv6 addresses
  // The IPv6 part: a database with both families (the default one's form),
  // loaded, and a million addresses uniform over 2000::/4 and inside blocks.
  std::unique_ptr<TIPv4Database> Db6;
  std::vector<TIPv6Address> Uniform6, Inside6;
};
TData gData;

std::string ReadFile(const std::string& Path) {
  std::ifstream f(Path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

// The database of both families, as the default one is built, plain.
void Prepare6(const std::string& Source, const std::string& Source6) {
  TDatabaseCompiler c;
  c.AddFile(Source);
  c.AddFile(Source6);
  c.Finish();
  const std::string path = gData.Dir + "/both_none.ip4";
  std::ofstream(path, std::ios::binary)
      << EncodeDatabaseFile(true, cmNone, "20261201", c.BinaryBody());
  gData.Files["both_none"] = path;
  gData.Db6 = std::make_unique<TIPv4Database>();
  gData.Db6->LoadFromFile(path);
  const auto& blocks = gData.Db6->IPv6.Blocks;
  std::mt19937_64 rng(6);
  gData.Uniform6.resize(1000000);
  for (TIPv6Address& a : gData.Uniform6)
    a = (TIPv6Address{2} << 124) | (TIPv6Address{rng()} << 64 | rng()) >> 4;
  gData.Inside6.resize(1000000);
  for (TIPv6Address& a : gData.Inside6) {
    const TIPv6Block& b = blocks[rng() % blocks.size()];
    const TIPv6Address offset = TIPv6Address{rng()} << 64 | rng();
    a = b.Last - b.Start == ~TIPv6Address{0} ? offset : b.Start + offset % (b.Last - b.Start + 1);
  }
  // A million IPv6 query lines for kesl-lookup --stdin: every other one
  // inside a block, the others uniform over 2000::/3.
  std::string lines;
  for (int i = 0; i < 1000000; ++i) {
    const TIPv6Address a = i % 2
                               ? gData.Inside6[static_cast<size_t>(i)]
                               : TIPv6Address{1} << 125 | (TIPv6Address{rng()} << 64 | rng()) >> 3;
    (lines += IPv6ToStr(a)) += '\n';
  }
  gData.Lines6 = gData.Dir + "/lines6.txt";
  std::ofstream(gData.Lines6) << lines;
}

void Prepare(const std::string& Source) {
  char tmpl[] = "/tmp/kesl-bench-XXXXXX";
  gData.Dir = mkdtemp(tmpl);
  TDatabaseCompiler c;
  c.AddFile(Source);
  c.Finish();
  c.LoadCountryNames(ReadFile("/usr/share/iso-codes/json/iso_3166-1.json"));
  const std::string bin = c.BinaryBody();
  // The text form cannot carry AFRINIC or the countries the built-in table
  // lacks; for timing they are written as IANA and EU, line for line.
  const TIPv4Database builtIn;
  std::string text;
  for (const TInputBlock& s : c.Blocks()) {
    TIPv4Block b;
    b.StartIP = s.Start;
    b.Count = s.Count;
    b.Date = s.Date;
    b.CountryCode = builtIn.FindCountry(s.Country) < 0 ? StrToCode('E', 'U') : s.Country;
    std::string_view token = TextRegistryToken(s.Registry);
    if (token.empty()) token = TextRegistryToken(kIanaID);
    (text += EncodeTextLine(b, token)) += '\n';
  }
  const struct {
    const char* name;
    bool binary;
    TCompression comp;
  } kinds[] = {{"bin_none", true, cmNone},  // the default form, searched in place
               {"bin_zlib", true, cmZLib},
               {"text_zlib", false, cmZLib},
               {"text_bzip2", false, cmBZip2},
               {"bin_bzip2", true, cmBZip2}};
  for (const auto& k : kinds) {
    const std::string file =
        EncodeDatabaseFile(k.binary, k.comp, "20261201", k.binary ? bin : text);
    const std::string path = gData.Dir + "/" + k.name + ".ip4";
    std::ofstream(path, std::ios::binary) << file;
    gData.Files[k.name] = path;
    gData.Bodies[k.name] = file.substr(16);
  }
  gData.Db = std::make_unique<TIPv4Database>();
  gData.Db->LoadFromFile(gData.Files["bin_zlib"]);
  std::mt19937 rng(1);
  gData.Uniform.resize(1000000);
  for (uint32_t& a : gData.Uniform) a = rng();
  std::mt19937 rng2(2);
  gData.Inside.resize(1000000);
  for (uint32_t& a : gData.Inside) {
    const TIPv4Block* b = gData.Db->BlockAt(static_cast<int>(rng2() % gData.Db->BlockCount()));
    a = b->StartIP + static_cast<uint32_t>(rng2() % b->Count);
  }
  size_t most = 0;
  for (int i = 0; i < gData.Db->CountryCount(); ++i) {
    if (gData.Db->CountryAt(i)->Blocks.size() > most) {
      most = gData.Db->CountryAt(i)->Blocks.size();
      gData.LargestCountry = gData.Db->CountryAt(i)->Code;
    }
  }
  std::string lines;
  std::mt19937 rng3(3);
  for (int i = 0; i < 1000000; ++i) (lines += IPToStr(rng3())) += '\n';
  gData.Lines = gData.Dir + "/lines.txt";
  std::ofstream(gData.Lines) << lines;
}

// The reference search: branch-free over a flat array of start addresses
// (32 bits for IPv4, 128 for IPv6).
template <typename TAddress>
int FlatSearch(const TLargeVector<TAddress>& Starts, TAddress IP) {
  const TAddress* base = Starts.data();
  size_t n = Starts.size();
  while (n > 1) {
    const size_t half = n / 2;
    base = base[half] <= IP ? base + half : base;
    n -= half;
  }
  return *base <= IP ? static_cast<int>(base - Starts.data()) : -1;
}

// Find over every address.
template <typename TAddress, typename TFind>
void SearchAll(const std::vector<TAddress>& Addresses, TFind Find) {
  int64_t sum = 0;
  for (const TAddress a : Addresses) sum += Find(a);
  benchmark::DoNotOptimize(sum);
}

// Times Find over every address.
template <typename TAddress, typename TFind>
void Searches(benchmark::State& State, const std::vector<TAddress>& Addresses, TFind Find) {
  for (auto _ : State) SearchAll(Addresses, Find);
  State.SetItemsProcessed(State.iterations() * static_cast<int64_t>(Addresses.size()));
}

int FindBlock(uint32_t A) { return gData.Db->FindBlock(A); }
int FindBlock6(TIPv6Address A) { return gData.Db6->IPv6.Find(A); }

// The references' starts are made once, like the database searched: a
// vector made anew for each run met the memory a new way each time (its
// pages large or small), and the reference moved by half from run to run.
// They are on large pages, as the database's indexes are, so that the
// ratio compares the searches, not the pages under them.
int FlatReference(uint32_t A) {
  static const TLargeVector<uint32_t> starts = [] {
    TLargeVector<uint32_t> s;
    for (const TIPv4Block& b : gData.Db->Blocks) s.push_back(b.StartIP);
    return s;
  }();
  return FlatSearch(starts, A);
}

int FlatReference6(TIPv6Address A) {
  static const TLargeVector<TIPv6Address> starts = [] {
    TLargeVector<TIPv6Address> s;
    for (const TIPv6Block& b : gData.Db6->IPv6.Blocks) s.push_back(b.Start);
    return s;
  }();
  return FlatSearch(starts, A);
}

void BM_FindBlock(benchmark::State& State, const std::vector<uint32_t>* Addresses) {
  Searches(State, *Addresses, FindBlock);
}
void BM_FlatReference(benchmark::State& State, const std::vector<uint32_t>* Addresses) {
  Searches(State, *Addresses, FlatReference);
}
void BM_FindBlock6(benchmark::State& State, const std::vector<TIPv6Address>* Addresses) {
  Searches(State, *Addresses, FindBlock6);
}
void BM_FlatReference6(benchmark::State& State, const std::vector<TIPv6Address>* Addresses) {
  Searches(State, *Addresses, FlatReference6);
}

// A[i] / B[i], sorted: of runs made in turn, each against the one beside
// it.
std::vector<double> SortedRatios(const std::vector<double>& A, const std::vector<double>& B) {
  std::vector<double> ratios;
  for (size_t i = 0; i < A.size() && i < B.size(); ++i) ratios.push_back(A[i] / B[i]);
  std::sort(ratios.begin(), ratios.end());
  return ratios;
}
double MedianRatio(const std::vector<double>& A, const std::vector<double>& B) {
  const std::vector<double> ratios = SortedRatios(A, B);
  return ratios.empty() ? 0 : ratios[ratios.size() / 2];
}

// A search against its reference, in pairs: each pair times the million
// searches of one and then of the other (which goes first, in turn), and
// the ratios of the pairs come back sorted. This machine changes speed by
// half and more from minute to minute, and the two medians of minutes
// apart moved their ratio with it (0.42 to 0.99 for the same code); the
// two runs of a pair meet the same minute.
template <typename TAddress, typename TOurs, typename TReference>
std::vector<double> PairedRatios(const std::vector<TAddress>& Addresses, TOurs Ours,
                                 TReference Reference, int Pairs) {
  auto timed = [&](auto Find) {
    const auto start = std::chrono::steady_clock::now();
    SearchAll(Addresses, Find);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  std::vector<double> ours(Pairs), reference(Pairs);
  for (int i = 0; i < Pairs; ++i) {
    if (i % 2 == 0) {
      ours[i] = timed(Ours);
      reference[i] = timed(Reference);
    } else {
      reference[i] = timed(Reference);
      ours[i] = timed(Ours);
    }
  }
  return SortedRatios(ours, reference);
}

void BM_Load(benchmark::State& State, const char* Kind) {
  for (auto _ : State) {
    TIPv4Database db;
    db.LoadFromFile(gData.Files[Kind]);
    benchmark::DoNotOptimize(db.BlockCount());
  }
}

void BM_Inflate(benchmark::State& State, const char* Kind) {
  std::vector<unsigned char> out(65536);
  for (auto _ : State) {
    const std::string file = ReadFile(gData.Files[Kind]);
    z_stream z{};
    inflateInit(&z);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data() + 16));
    z.avail_in = static_cast<uInt>(file.size() - 16);
    int rc = Z_OK;
    while (rc == Z_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
    }
    inflateEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_Bunzip2(benchmark::State& State, const char* Kind) {
  std::vector<char> out(65536);
  for (auto _ : State) {
    std::string file = ReadFile(gData.Files[Kind]);
    bz_stream z{};
    BZ2_bzDecompressInit(&z, 0, 0);
    z.next_in = file.data() + 16;
    z.avail_in = static_cast<unsigned>(file.size() - 16);
    int rc = BZ_OK;
    while (rc == BZ_OK) {
      z.next_out = out.data();
      z.avail_out = static_cast<unsigned>(out.size());
      rc = BZ2_bzDecompress(&z);
    }
    BZ2_bzDecompressEnd(&z);
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_CountryList(benchmark::State& State) {
  TBlockListModel model;
  for (auto _ : State) {
    const auto* blocks = gData.Db->CountryBlocks(gData.LargestCountry);
    model.Clear();
    model.Reserve(blocks->size());
    for (TIPv4Block* b : *blocks) model.Append(b);
    model.Publish();
    benchmark::DoNotOptimize(model.Count());
  }
}

void BM_CopyCIDR(benchmark::State& State) {
  const auto* blocks = gData.Db->CountryBlocks(gData.LargestCountry);
  const std::vector<const TIPv4Block*> all(blocks->begin(), blocks->end());
  for (auto _ : State) {
    const std::string text = BlocksText(all, nmCIDR, "\r\n", [](size_t) { return false; });
    benchmark::DoNotOptimize(text.data());
  }
}

// Runs a program to its end with its input and output redirected.
void RunProcess(const std::vector<std::string>& Args, const std::string& In) {
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, In.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (const std::string& a : Args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) std::abort();
  int status;
  waitpid(pid, &status, 0);
  posix_spawn_file_actions_destroy(&fa);
}

// One run of a whole process: its time in seconds and its peak resident
// memory in MB. The peak comes from GNU time, which runs it: a child of this
// large process would count this process's memory as its own from before
// its exec.
// In and Out, when given, are its standard input and output; an exit
// status above MaxStatus stops the benchmark.
std::pair<double, double> MeasuredRun(const std::vector<std::string>& Args,
                                      const std::string& In = "", const std::string& Out = "",
                                      int MaxStatus = 0) {
  const std::string report = gData.Dir + "/peak";
  std::vector<std::string> timed = {"/usr/bin/time", "-f", "%M", "-o", report};
  timed.insert(timed.end(), Args.begin(), Args.end());
  std::vector<char*> argv;
  for (const std::string& a : timed) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!In.empty()) posix_spawn_file_actions_addopen(&fa, 0, In.c_str(), O_RDONLY, 0);
  if (!Out.empty()) {
    posix_spawn_file_actions_addopen(&fa, 1, Out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  const auto start = std::chrono::steady_clock::now();
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) std::abort();
  int status = 0;
  waitpid(pid, &status, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  posix_spawn_file_actions_destroy(&fa);
  if (!WIFEXITED(status) || WEXITSTATUS(status) > MaxStatus) std::abort();
  // GNU time puts "Command exited with non-zero status N" before the
  // figure when the status is not 0: the figure is the last line.
  double kilobytes = 0;
  std::ifstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
      kilobytes = std::stod(line);
    }
  }
  return {seconds, kilobytes / 1024};
}

// The median time, in milliseconds, of Queries queries written one at a
// time to kesl-lookup --stdin over a pipe, each answer read whole before
// the next query goes: what a helper (squid's external ACL, rsyslog's
// omprog, a script's coprocess) waits for each line. IPv4 and IPv6
// addresses in turn, from the stream inputs.
double HelperRoundTripMs(const std::string& Db, int Queries) {
  int toChild[2], fromChild[2];
  if (pipe(toChild) != 0 || pipe(fromChild) != 0) std::abort();
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&fa, fromChild[1], 1);
  for (const int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]}) {
    posix_spawn_file_actions_addclose(&fa, fd);
  }
  std::vector<std::string> args = {KESL_LOOKUP, "--db", Db, "--stdin"};
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid;
  if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) std::abort();
  posix_spawn_file_actions_destroy(&fa);
  close(toChild[0]);
  close(fromChild[1]);
  // The queries: the first lines of the two stream inputs, in turn.
  std::vector<std::string> queries;
  for (const std::string* file : {&gData.Lines, &gData.Lines6}) {
    std::ifstream in(*file);
    std::string line;
    for (int i = 0; i < Queries / 2 && std::getline(in, line); ++i) queries.push_back(line + "\n");
  }
  std::vector<double> times;
  char buf[4096];
  for (size_t i = 0; i < queries.size(); ++i) {
    const std::string& q = queries[i % 2 ? queries.size() / 2 + i / 2 : i / 2];
    const auto start = std::chrono::steady_clock::now();
    if (write(toChild[1], q.data(), q.size()) != static_cast<ssize_t>(q.size())) std::abort();
    for (;;) {
      const ssize_t n = read(fromChild[0], buf, sizeof buf);
      if (n <= 0) std::abort();
      if (buf[n - 1] == '\n') break;
    }
    times.push_back(
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count());
  }
  close(toChild[1]);
  close(fromChild[0]);
  int status;
  waitpid(pid, &status, 0);
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

void BM_LookupStdin(benchmark::State& State) {
  for (auto _ : State)
    RunProcess({KESL_LOOKUP, "--db", gData.Files["bin_none"], "--stdin"}, gData.Lines);
}

// Medians, in seconds, of whole-process runs of Ours and of Peer, taken in
// turn so that both meet the same machine; empty when the peer is missing.
std::pair<double, double> AlternatingMedians(const std::vector<std::string>& Ours,
                                             const std::vector<std::string>& Peer, int Runs) {
  if (access(Peer[0].c_str(), X_OK) != 0) return {0, 0};
  std::vector<double> ours, peer;
  auto timed = [](const std::vector<std::string>& Args) {
    const auto start = std::chrono::steady_clock::now();
    RunProcess(Args, "/dev/null");
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  };
  for (int i = 0; i < Runs; ++i) {
    ours.push_back(timed(Ours));
    peer.push_back(timed(Peer));
  }
  auto median = [](std::vector<double>& v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  return {median(ours), median(peer)};
}

// Answers every question with No and shows nothing.
class TQuietDialogs : public TDialogs {
 public:
  void ShowMessage(QWidget*, const QString&) override {}
  void ShowError(QWidget*, const QString&) override {}
  bool Confirm(QWidget*, const QString&, const QString&, const QString&, const QString&) override {
    return false;
  }
  bool OpenUrl(const QString&) override { return true; }
};

void BM_FirstLocate(benchmark::State& State) {
  TQuietDialogs dialogs;
  SetDialogs(&dialogs);
  for (auto _ : State) {
    State.PauseTiming();
    auto form = std::make_unique<TKeslMainForm>();
    form->SetDatabaseFileName(QString::fromStdString(gData.Files["bin_none"]));
    form->IPEdit->setText(QStringLiteral("8.8.8.8"));
    State.ResumeTiming();
    form->StartWork();
    State.PauseTiming();
    form.reset();
    State.ResumeTiming();
  }
  SetDialogs(nullptr);
}

// Resident memory of this process, in bytes.
double ResidentBytes() {
  long pages = 0, resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Resident memory added by loading a database, measured in a fresh process
// of this program (run with --memory FILE) so that nothing else counts.
double DatabaseMemoryMB(const std::string& File) {
  // The program's own path: under popen, /proc/self/exe would be the shell.
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string command = "'" + self + "' --memory '" + File + "'";
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  double mb = -1;
  if (std::fscanf(p, "%lf", &mb) != 1) mb = -1;
  pclose(p);
  return mb;
}

int MeasureMemory(const char* File) {
  const double before = ResidentBytes();
  TIPv4Database db;
  db.LoadFromFile(File);
  std::printf("%.3f\n", (ResidentBytes() - before) / (1024.0 * 1024.0));
  return 0;
}

// A log dropped on a fresh window until its table is filled, in a process
// of its own (run with --window-table DB LOG under GNU time, for its peak
// memory): prints the seconds from the drop to the filled table.
int MeasureWindowTable(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  char settings[] = "/tmp/kesl-window-bench-XXXXXX";
  if (!mkdtemp(settings)) return 1;
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLatin1(settings));
  TQuietDialogs dialogs;
  SetDialogs(&dialogs);
  int status = 1;
  {
    TKeslMainForm form;
    form.SetDatabaseFileName(QString::fromLocal8Bit(argv[2]));
    form.show();
    QCoreApplication::processEvents();
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromLocal8Bit(argv[3]))});
    QElapsedTimer clock;
    clock.start();
    // As a file manager's drag: it enters the window, then the file drops.
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &drop);
    TAddressTableWindow* table = nullptr;
    for (QWidget* w : form.findChildren<QWidget*>(QStringLiteral("AddressTableWindow"))) {
      table = dynamic_cast<TAddressTableWindow*>(w);
    }
    // Filled: the thread is done and the window shows its rows.
    while (table && (table->Filling() || !table->SaveButton->isEnabled())) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    if (table) {
      std::printf("%.3f %d\n", static_cast<double>(clock.nsecsElapsed()) / 1e9,
                  table->Model()->Count());
      status = 0;
    }
  }
  SetDialogs(nullptr);
  std::filesystem::remove_all(settings);
  return status;
}

// Keeps the median of every benchmark's repetitions, in seconds.
class TCollector : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& Runs) override {
    for (const Run& r : Runs) {
      if (r.aggregate_name == "median") {
        Medians[r.run_name.function_name] =
            r.GetAdjustedRealTime() / benchmark::GetTimeUnitMultiplier(r.time_unit);
      }
    }
    ConsoleReporter::ReportRuns(Runs);
  }
  std::map<std::string, double> Medians;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--memory") return MeasureMemory(argv[2]);
  if (argc == 4 && std::string(argv[1]) == "--window-table") return MeasureWindowTable(argc, argv);
  qputenv("QT_QPA_PLATFORM", "offscreen");
  const std::string source =
      argc > 1 && argv[argc - 1][0] != '-' ? argv[--argc] : "/usr/share/tor/geoip";
  Prepare(source);
  const char* source6 = std::getenv("KESL_GEOIP6_SOURCE");
  if (!source6) source6 = "/usr/share/tor/geoip6";
  const bool ipv6 = std::filesystem::exists(source6);
  if (ipv6) Prepare6(source, source6);
  const double memory = DatabaseMemoryMB(gData.Files["bin_zlib"]);
  QApplication app(argc, argv);
  // The windows made here keep their settings away from the user's own.
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                     QString::fromStdString(gData.Dir + "/settings"));
  // The repetitions of all benchmarks in a random order, so that a search
  // and its reference meet the same machine rather than each its own minute
  // of it: their ratio moved by a third from run to run without.
  std::vector<char*> args(argv, argv + argc);
  char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = static_cast<int>(args.size());
  benchmark::Initialize(&count, args.data());

  auto reg = [](const char* name, auto fn, auto... args) {
    return benchmark::RegisterBenchmark(name, fn, args...)
        ->Repetitions(9)
        ->ReportAggregatesOnly(true)
        ->UseRealTime();
  };
  reg("findblock_uniform", BM_FindBlock, &gData.Uniform)->Unit(benchmark::kMillisecond);
  reg("reference_uniform", BM_FlatReference, &gData.Uniform)->Unit(benchmark::kMillisecond);
  reg("findblock_inside", BM_FindBlock, &gData.Inside)->Unit(benchmark::kMillisecond);
  reg("reference_inside", BM_FlatReference, &gData.Inside)->Unit(benchmark::kMillisecond);
  if (ipv6) {
    reg("findblock6_uniform", BM_FindBlock6, &gData.Uniform6)->Unit(benchmark::kMillisecond);
    reg("reference6_uniform", BM_FlatReference6, &gData.Uniform6)->Unit(benchmark::kMillisecond);
    reg("findblock6_inside", BM_FindBlock6, &gData.Inside6)->Unit(benchmark::kMillisecond);
    reg("reference6_inside", BM_FlatReference6, &gData.Inside6)->Unit(benchmark::kMillisecond);
  }
  for (const char* kind : {"bin_zlib", "text_zlib"}) {
    reg((std::string("load_") + kind).c_str(), BM_Load, kind)->Unit(benchmark::kMillisecond);
    reg((std::string("inflate_") + kind).c_str(), BM_Inflate, kind)->Unit(benchmark::kMillisecond);
  }
  for (const char* kind : {"text_bzip2", "bin_bzip2"}) {
    reg((std::string("load_") + kind).c_str(), BM_Load, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    reg((std::string("bunzip2_") + kind).c_str(), BM_Bunzip2, kind)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  reg("country_list", BM_CountryList)->Unit(benchmark::kMillisecond);
  reg("copy_cidr", BM_CopyCIDR)->Unit(benchmark::kMillisecond);
  reg("lookup_stdin", BM_LookupStdin)->Unit(benchmark::kMillisecond)->Iterations(2);
  reg("first_locate", BM_FirstLocate)->Unit(benchmark::kMillisecond)->Iterations(3);

  TCollector collector;
  benchmark::RunSpecifiedBenchmarks(&collector);
  benchmark::Shutdown();

  auto& m = collector.Medians;
  auto has = [&](const char* a) { return m.count(a) != 0; };
  struct TGoal {
    std::string name;
    double measured;
    double target;
    bool atMost;
  };
  std::vector<TGoal> goals;
  auto ratio = [&](const char* name, const char* a, const char* b, double target) {
    if (has(a) && has(b)) goals.push_back({name, m[a] / m[b], target, true});
  };
  // The searches' ratios are the medians of 21 pairs each (above); the
  // medians of the runs before are shown beside them.
  auto paired = [&](const char* name, const char* a, const char* b, const auto& Addresses,
                    auto Ours, auto Reference, double target) {
    if (!has(a) || !has(b)) return;
    const std::vector<double> r = PairedRatios(Addresses, Ours, Reference, 21);
    std::printf("%s: pairs %.2f to %.2f, median %.2f (the runs' medians %.3f / %.3f ms = %.2f)\n",
                name, r.front(), r.back(), r[r.size() / 2], m[a] * 1e3, m[b] * 1e3, m[a] / m[b]);
    goals.push_back({name, r[r.size() / 2], target, true});
  };
  std::printf("\n");
  paired("findblock_uniform_ratio", "findblock_uniform", "reference_uniform", gData.Uniform,
         FindBlock, FlatReference, 0.3);
  paired("findblock_inside_ratio", "findblock_inside", "reference_inside", gData.Inside, FindBlock,
         FlatReference, 0.3);
  paired("findblock6_uniform_ratio", "findblock6_uniform", "reference6_uniform", gData.Uniform6,
         FindBlock6, FlatReference6, 0.5);
  paired("findblock6_inside_ratio", "findblock6_inside", "reference6_inside", gData.Inside6,
         FindBlock6, FlatReference6, 0.5);
  ratio("load_bin_zlib_ratio", "load_bin_zlib", "inflate_bin_zlib", 1.6);
  ratio("load_text_zlib_ratio", "load_text_zlib", "inflate_text_zlib", 2.0);
  ratio("load_text_bzip2_ratio", "load_text_bzip2", "bunzip2_text_bzip2", 1.2);
  ratio("load_bin_bzip2_ratio", "load_bin_bzip2", "bunzip2_bin_bzip2", 1.15);
  goals.push_back({"db_memory_mb", memory, 40, true});
  if (has("country_list")) goals.push_back({"country_list_ms", m["country_list"] * 1e3, 5, true});
  if (has("copy_cidr")) goals.push_back({"copy_cidr_ms", m["copy_cidr"] * 1e3, 50, true});
  if (has("lookup_stdin"))
    goals.push_back({"lookup_stdin_mqps", 1.0 / m["lookup_stdin"], 8, false});
  // One address, whole processes, against libGeoIP's geoiplookup on its own
  // database: 41 runs of each, in turn.
  const auto [ours, peer] =
      AlternatingMedians({KESL_LOOKUP, "--db", gData.Files["bin_none"], "8.8.8.8"},
                         {"/usr/bin/geoiplookup", "8.8.8.8"}, 41);
  if (peer > 0) {
    std::printf("\nwhole process, one address: kesl-lookup %.3f ms, geoiplookup %.3f ms\n",
                ours * 1e3, peer * 1e3);
    goals.push_back({"lookup_single_ratio", ours / peer, 1.0, true});
    goals.push_back({"lookup_single_ms", ours * 1e3, 2, true});
  } else {
    std::printf("\nno /usr/bin/geoiplookup: lookup_single_ratio not measured\n");
  }
  // The same for an IPv6 address, on the database of both families, against
  // geoiplookup6 on its IPv6 database.
  const auto [ours6, peer6] =
      ipv6 ? AlternatingMedians(
                 {KESL_LOOKUP, "--db", gData.Files["both_none"], "2001:4860:4860::8888"},
                 {"/usr/bin/geoiplookup6", "2001:4860:4860::8888"}, 41)
           : std::pair<double, double>{0, 0};
  if (peer6 > 0) {
    std::printf("whole process, one IPv6 address: kesl-lookup %.3f ms, geoiplookup6 %.3f ms\n",
                ours6 * 1e3, peer6 * 1e3);
    goals.push_back({"lookup6_single_ratio", ours6 / peer6, 1.0, true});
  } else {
    std::printf("no geoip6 source or /usr/bin/geoiplookup6: lookup6_single_ratio not measured\n");
  }
  if (has("first_locate")) goals.push_back({"first_locate_ms", m["first_locate"] * 1e3, 15, true});
  // Each export of the database of both families, as one process: its time
  // and its peak memory; and the MaxMind DB file's size beside the
  // database's own.
  if (ipv6 && access("/usr/bin/time", X_OK) == 0) {
    const std::string db = gData.Files["both_none"];
    std::printf("\n");
    for (const char* form : {"mmdb", "nginx", "haproxy", "csv", "ranges"}) {
      const std::string out = gData.Dir + "/export." + form;
      const auto [seconds, mb] = MeasuredRun({KESL_MKDB, "--export", form, "--db", db, "-o", out});
      std::printf("export %s: %.2f s, peak %.0f MB, %.1f MB written\n", form, seconds, mb,
                  static_cast<double>(std::filesystem::file_size(out)) / 1e6);
      goals.push_back({std::string("export_") + form + "_s", seconds, 5, true});
      goals.push_back({std::string("export_") + form + "_mb", mb, 300, true});
    }
    std::printf("database %.1f MB, its MaxMind DB file %.1f MB\n",
                static_cast<double>(std::filesystem::file_size(db)) / 1e6,
                static_cast<double>(std::filesystem::file_size(gData.Dir + "/export.mmdb")) / 1e6);
  }
  // Streams of queries, whole processes on the database of both families:
  // a million IPv6 addresses against a million IPv4 ones, in turn.
  if (ipv6 && access("/usr/bin/time", X_OK) == 0) {
    const std::string db = gData.Files["both_none"];
    std::vector<double> four, six;
    double peak = 0;
    for (int run = 0; run < 5; ++run) {
      const auto [s4, mb4] =
          MeasuredRun({KESL_LOOKUP, "--db", db, "--stdin"}, gData.Lines, "/dev/null", 1);
      const auto [s6, mb6] =
          MeasuredRun({KESL_LOOKUP, "--db", db, "--stdin"}, gData.Lines6, "/dev/null", 1);
      four.push_back(s4);
      six.push_back(s6);
      peak = std::max({peak, mb4, mb6});
    }
    const double ratio = MedianRatio(six, four);
    std::sort(four.begin(), four.end());
    std::sort(six.begin(), six.end());
    std::printf("\n--stdin, a million addresses: IPv4 %.3f s, IPv6 %.3f s, peak %.0f MB\n", four[2],
                six[2], peak);
    goals.push_back({"lookup6_stdin_ratio", ratio, 1.5, true});
    goals.push_back({"lookup6_stdin_peak_mb", peak, 64, true});
  }
  // A helper's round trip: kesl-lookup --stdin as a coprocess over pipes,
  // each query written and its answer read before the next, both families.
  if (ipv6) {
    const double ms = HelperRoundTripMs(gData.Files["both_none"], 10000);
    std::printf("\nhelper round trip, median of 10,000: %.4f ms\n", ms);
    goals.push_back({"helper_roundtrip_ms", ms, 0.1, true});
  }
  // --annotate over a generated access log (bench/gen_logs.py) against
  // grep finding only its IPv4 addresses and against copies of it, each
  // writing to a file on the same disk, in turn. The copy that is the
  // floor of a program that writes what it made is dd's, a read and a
  // write of each megabyte; cat (coreutils 9) has the kernel copy the file
  // itself (copy_file_range), the bytes never coming into the program, and
  // is shown beside it.
  const char* log = std::getenv("KESL_BENCH_LOG");
  if (log && ipv6 && access("/usr/bin/time", X_OK) == 0) {
    const double bytes = static_cast<double>(std::filesystem::file_size(log));
    const std::string out = gData.Dir + "/annotated";
    std::vector<double> ours, grep, copy, cat;
    double peak = 0;
    for (int run = 0; run < 3; ++run) {
      cat.push_back(MeasuredRun({"/bin/cat", log}, "", out).first);
      copy.push_back(
          MeasuredRun({"/bin/dd", "if=" + std::string(log), "bs=1M", "status=none"}, "", out)
              .first);
      const auto [s, mb] =
          MeasuredRun({KESL_LOOKUP, "--db", gData.Files["both_none"], "--annotate", log}, "", out);
      const auto [g, gmb] = MeasuredRun(
          {"/usr/bin/env", "LC_ALL=C", "grep", "-oE", "([0-9]{1,3}\\.){3}[0-9]{1,3}", log}, "", out,
          1);
      ours.push_back(s);
      grep.push_back(g);
      peak = std::max(peak, mb);
    }
    const double copyRatio = MedianRatio(ours, copy), grepRatio = MedianRatio(grep, ours);
    std::sort(ours.begin(), ours.end());
    std::sort(grep.begin(), grep.end());
    std::sort(copy.begin(), copy.end());
    std::sort(cat.begin(), cat.end());
    std::printf(
        "--annotate over %.0f MB: %.0f MB/s, grep -oE %.0f MB/s, dd bs=1M %.0f MB/s, cat %.0f "
        "MB/s, "
        "peak %.0f MB\n",
        bytes / 1e6, bytes / 1e6 / ours[1], bytes / 1e6 / grep[1], bytes / 1e6 / copy[1],
        bytes / 1e6 / cat[1], peak);
    goals.push_back({"annotate_copy_ratio", copyRatio, 1.3, true});
    goals.push_back({"annotate_grep_ratio", grepRatio, 4, false});
    goals.push_back({"annotate_peak_mb", peak, 64, true});
  }
  // An update of five registry files as large as the registries' own
  // (bench/gen_registries.py, 2.5 million lines), from file:// addresses:
  // its peak memory, with every file read and the database written.
  const char* registries = std::getenv("KESL_BENCH_REGISTRIES");
  if (registries && access("/usr/bin/time", X_OK) == 0) {
    const std::string out = gData.Dir + "/update.ip4";
    const auto [seconds, mb] =
        MeasuredRun({KESL_MKDB, "--update", "--from", std::string("file://") + registries,
                     "--retry-wait", "0", "-o", out});
    std::printf("update of five generated registry files: %.2f s, peak %.0f MB, %.1f MB written\n",
                seconds, mb, static_cast<double>(std::filesystem::file_size(out)) / 1e6);
    goals.push_back({"update_peak_mb", mb, 400, true});
  }
  // A log of a million lines (bench/gen_logs.py) dropped on the window:
  // from the drop to its filled table, and the program's peak meanwhile.
  const char* windowLog = std::getenv("KESL_BENCH_WINDOW_LOG");
  if (windowLog && ipv6 && access("/usr/bin/time", X_OK) == 0) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string out = gData.Dir + "/window-table";
    std::vector<double> seconds;
    double peak = 0;
    int rows = 0;
    for (int run = 0; run < 3; ++run) {
      const auto [wall, mb] =
          MeasuredRun({self, "--window-table", gData.Files["both_none"], windowLog}, "", out);
      double s = 0;
      std::ifstream(out) >> s >> rows;
      seconds.push_back(s);
      peak = std::max(peak, mb);
    }
    std::sort(seconds.begin(), seconds.end());
    std::printf("window table of a %.0f MB log: %d rows in %.2f s (median of 3), peak %.0f MB\n",
                static_cast<double>(std::filesystem::file_size(windowLog)) / 1e6, rows, seconds[1],
                peak);
    goals.push_back({"window_table_s", seconds[1], 10, true});
    goals.push_back({"window_table_mb", peak, 500, true});
  }
  std::cout << "\n";
  for (const TGoal& g : goals) {
    const bool pass = g.atMost ? g.measured <= g.target : g.measured >= g.target;
    std::printf("goal %s %.3f %g %s\n", g.name.c_str(), g.measured, g.target,
                pass ? "pass" : "fail");
  }
  std::error_code ec;
  std::filesystem::remove_all(gData.Dir, ec);
  return 0;
}
