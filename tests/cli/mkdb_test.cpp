#include "cli/mkdb.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

#include "dbbuild/samples.h"
#include "testutil.h"
#include "tools/files.h"

TEST(MkdbMainTest, WritesChecksAndRefuses) {
  TTempDir dir;
  const std::string in = dir.Write("d.txt", kDelegation);
  const std::string out = dir.Path("out.ip4");
  std::ostringstream o, e;
  ASSERT_EQ(MkdbMain({"-o", out, "--compress", "bzip2", "--iso-codes", "/nonexistent", in}, o, e),
            0)
      << e.str();
  EXPECT_NE(o.str().find("Blocks: 4 (0 duplicates dropped)"), std::string::npos) << o.str();
  EXPECT_NE(o.str().find("Countries added: 1 RS"), std::string::npos);
  std::ostringstream co, ce;
  EXPECT_EQ(MkdbMain({"--check", out}, co, ce), 0);
  EXPECT_NE(co.str().find("Created: 2026-12-05"), std::string::npos) << co.str();
  EXPECT_NE(co.str().find("Registry 6 AFRINIC: 2 blocks, 2097920 addresses"), std::string::npos);

  EXPECT_NE(o.str().find("IPv6 blocks: 1\n"), std::string::npos) << o.str();
  EXPECT_NE(co.str().find("IPv6 blocks: 1\n"), std::string::npos) << co.str();

  std::ostringstream to, te;
  EXPECT_EQ(MkdbMain({"-o", dir.Path("t.ip4"), "--text", in}, to, te), 1);
  EXPECT_FALSE(std::filesystem::exists(dir.Path("t.ip4")));
  // The text form carries no IPv6 blocks, and says so.
  const std::string plain = dir.Write("p.txt",
                                      "arin|US|ipv4|3.0.0.0|256||allocated\n"
                                      "arin|US|ipv6|2600::|12||allocated\n");
  std::ostringstream po, pe;
  EXPECT_EQ(MkdbMain({"-o", dir.Path("t.ip4"), "--text", plain}, po, pe), 0) << pe.str();
  EXPECT_EQ(pe.str(), "kesl-mkdb: the text form carries no IPv6 blocks; 1 left out\n");
  std::ostringstream uo, ue;
  EXPECT_EQ(MkdbMain({"--compress", "lzma", in}, uo, ue), 2);
  EXPECT_EQ(MkdbMain({"--date", "20230229", in}, uo, ue), 2);
  EXPECT_EQ(MkdbMain({}, uo, ue), 2);
  std::ostringstream bo, be;
  EXPECT_EQ(MkdbMain({"--check", in}, bo, be), 3);
  EXPECT_EQ(be.str(), "The file " + in + " is not valid or unknown IPv4 database file\n");
}

TEST(MkdbMainTest, ExportsNeedADatabaseAndAnOutput) {
  TTempDir dir;
  const std::string db = dir.Path("db.ip4");
  std::ostringstream o, e;
  ASSERT_EQ(MkdbMain({"-o", db, dir.Write("d.txt", kDelegation)}, o, e), 0) << e.str();
  const std::string out = dir.Path("kesl.geo");
  std::ostringstream eo, ee;
  EXPECT_EQ(MkdbMain({"--export", "nginx", "--db", db, "-o", out}, eo, ee), 0) << ee.str();
  EXPECT_THAT(eo.str(), testing::StartsWith("Wrote " + out + ": "));
  std::ifstream geo(out);
  const std::string first((std::istreambuf_iterator<char>(geo)), {});
  EXPECT_THAT(first, testing::StartsWith("3.0.0.0/8 US;\n5.1.0.0/24 RS;\n"));
  std::ostringstream uo, ue;
  EXPECT_EQ(MkdbMain({"--export", "nginx", "--db", db}, uo, ue), 2);  // no -o
  EXPECT_THAT(ue.str(), testing::StartsWith("kesl-mkdb: --export needs -o OUT\n"));
  EXPECT_EQ(MkdbMain({"--export", "xml", "--db", db, "-o", out}, uo, ue), 2);
  EXPECT_EQ(MkdbMain({"--export", "csv", "--update", "-o", out}, uo, ue), 2);
  EXPECT_EQ(MkdbMain({"--db", db, "-o", out, dir.Path("d.txt")}, uo, ue), 2);
  // A database that does not load: status 3, and the output is untouched.
  std::ostringstream bo, be;
  EXPECT_EQ(MkdbMain({"--export", "csv", "--db", dir.Path("d.txt"), "-o", out}, bo, be), 3);
  std::ifstream again(out);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), {}), first);
}

// -o never turns what is not a file into one; "-" is standard output,
// which then holds the data alone; a symbolic link is replaced, its target
// left as it was.
TEST(MkdbMainTest, OutputsThatAreNoFilesAndStandardOutput) {
  TTempDir dir;
  const std::string db = dir.Path("db.ip4");
  const std::string in = dir.Write("d.txt", kDelegation);
  std::ostringstream o, e;
  ASSERT_EQ(MkdbMain({"-o", db, in}, o, e), 0) << e.str();
  const std::string fifo = dir.Path("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--export", "nginx", "--db", db, "-o", fifo},
        std::vector<std::string>{"-o", fifo, in},
        std::vector<std::string>{"-o", dir.Path(""), in}}) {
    std::ostringstream fo, fe;
    EXPECT_EQ(MkdbMain(args, fo, fe), 1) << args[1];
    EXPECT_THAT(fe.str(), testing::HasSubstr("is not a regular file, and is not replaced by one"));
    EXPECT_EQ(fo.str(), "");
  }
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
  for (const auto& entry : std::filesystem::directory_iterator(dir.Path(""))) {
    EXPECT_EQ(entry.path().string().find(kTempMark), std::string::npos);  // nothing left behind
  }

  // Standard output: the export alone there, the summary on standard error.
  const std::string file = dir.Path("kesl.geo");
  std::ostringstream fo, fe, so, se;
  ASSERT_EQ(MkdbMain({"--export", "nginx", "--db", db, "-o", file}, fo, fe), 0);
  ASSERT_EQ(MkdbMain({"--export", "nginx", "--db", db, "-o", "-"}, so, se), 0) << se.str();
  std::ifstream geo(file);
  EXPECT_EQ(so.str(), std::string((std::istreambuf_iterator<char>(geo)), {}));
  EXPECT_THAT(se.str(), testing::StartsWith("Wrote standard output: "));
  EXPECT_FALSE(std::filesystem::exists("-"));
  std::ostringstream co, ce;
  ASSERT_EQ(MkdbMain({"-o", "-", in}, co, ce), 0) << ce.str();
  EXPECT_EQ(co.str().substr(0, 4), "IPBB");
  EXPECT_EQ(co.str().size(), std::filesystem::file_size(db));
  EXPECT_THAT(ce.str(), testing::StartsWith("Wrote standard output: binary body"));
  std::ostringstream uo, ue;
  EXPECT_EQ(MkdbMain({"--update", "-o", "-"}, uo, ue), 2);

  // A symbolic link: the link becomes the file, its target is untouched.
  const std::string target = dir.Write("target.txt", "mine\n");
  const std::string link = dir.Path("link.geo");
  std::filesystem::create_symlink(target, link);
  std::ostringstream lo, le;
  ASSERT_EQ(MkdbMain({"--export", "nginx", "--db", db, "-o", link}, lo, le), 0) << le.str();
  EXPECT_FALSE(std::filesystem::is_symlink(link));
  std::ifstream kept(target);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "mine\n");
}
