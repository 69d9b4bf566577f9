#include "cli/mkdb.h"

#include <filesystem>
#include <sstream>

#include "dbbuild/samples.h"
#include "testutil.h"

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
