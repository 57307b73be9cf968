#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "sim/VcdWriter.h"

namespace corvane::sim {
namespace {

namespace fs = std::filesystem;

struct TempDir {
  TempDir() {
    std::string pattern = (fs::temp_directory_path() / "corvane-vcd-XXXXXX").string();
    path = mkdtemp(pattern.data());
  }
  ~TempDir() { fs::remove_all(path); }
  fs::path path;
};

std::string Slurp(const fs::path& p) {
  std::ifstream f(p);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

constexpr const char* kHeader =
    "$version corvane virtual decoder $end\n"
    "$comment EEPROM two-wire bus, virtual time $end\n"
    "$timescale 1us $end\n"
    "$scope module eeprom $end\n"
    "$var wire 1 ! SCL $end\n"
    "$var wire 1 \" SDA $end\n"
    "$upscope $end\n"
    "$enddefinitions $end\n";

TEST(VcdWriter, WritesOnlyChangesUnderRisingTimestamps) {
  TempDir dir;
  const fs::path file = dir.path / "bus.vcd";
  {
    VcdWriter vcd;
    std::string error;
    ASSERT_TRUE(vcd.Open(file.string(), &error)) << error;
    vcd.Change(100, true, true);   // the first call records both lines
    vcd.Change(115, true, false);  // start condition
    vcd.Change(130, false, false);
    vcd.Change(131, false, false);  // nothing changed: nothing written
    vcd.Change(145, true, true);    // both at once
    vcd.Change(145, false, true);   // same instant joins the block
    vcd.Change(140, true, true);    // never goes back in time
  }                                 // the destructor closes the file
  std::string expected = kHeader;
  expected.append("#100\n1!\n1\"\n"
                  "#115\n0\"\n"
                  "#130\n0!\n"
                  "#145\n1!\n1\"\n0!\n"
                  "1!\n");
  EXPECT_EQ(Slurp(file), expected);
}

TEST(VcdWriter, ReportsAFileItCannotCreateAndIgnoresChangesThen) {
  TempDir dir;
  const std::string path = (dir.path / "no-such-folder" / "bus.vcd").string();
  VcdWriter vcd;
  std::string error;
  EXPECT_FALSE(vcd.Open(path, &error));
  EXPECT_NE(error.find(path), std::string::npos);
  EXPECT_NE(error.find("No such file or directory"), std::string::npos);
  vcd.Change(1, true, true);
  vcd.Close();
}

}  // namespace
}  // namespace corvane::sim
