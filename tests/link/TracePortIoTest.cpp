#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "link/TracePortIo.h"
#include "link/corvane.h"
#include "support/RecordingPort.h"

namespace corvane {
namespace {

using testing::ManualClock;
using testing::RecordingPort;
using Lines = std::vector<std::string>;

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("corvane-trace-" + std::to_string(::getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::create_directories(dir_);
    path_ = (dir_ / "port.trace").string();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  Lines ReadLines() const {
    std::ifstream in(path_);
    Lines lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::filesystem::path dir_;
  std::string path_;
};

TEST_F(TraceTest, OneLinePerAccessInUpperCaseHex) {
  RecordingPort inner;
  inner.statusDefault = 0x0A;
  std::string error;
  {
    auto trace = TracePortIo::Create(inner, path_, &error);
    ASSERT_TRUE(trace) << error;
    ManualClock clock;
    Link link(*trace, clock);
    link.LinkOpen();
    link.SendByte(0xA5);
    EXPECT_EQ(trace->PortIn(kStatusPort), 0x0A) << "reads pass the inner value through";
  }
  const Lines lines = ReadLines();
  EXPECT_EQ(lines, inner.Lines()) << "every access reached the inner port, in order";
  EXPECT_EQ(Lines(lines.begin(), lines.begin() + 5),
            (Lines{"in 77A 15", "out 77A 35", "in 37A 0C", "out 37A 2F", "out 37A 2B"}));
  EXPECT_EQ(lines[6], "out 378 A5");
  EXPECT_EQ(lines.back(), "in 379 0A");
}

TEST_F(TraceTest, SwitchingTheInnerPortKeepsOneFile) {
  RecordingPort first, second;
  second.dataDefault = 0xFE;
  std::string error;
  auto trace = TracePortIo::Create(first, path_, &error);
  ASSERT_TRUE(trace);
  trace->PortOut(kDataPort, 0x01);
  trace->SetInner(second);
  EXPECT_EQ(trace->PortIn(kDataPort), 0xFE);
  ASSERT_TRUE(trace->Flush());
  EXPECT_EQ(ReadLines(), (Lines{"out 378 01", "in 378 FE"}));
  EXPECT_EQ(first.log.size(), 1u);
  EXPECT_EQ(second.log.size(), 1u);
}

TEST_F(TraceTest, OwnedInnerPortLivesAsLongAsTheTrace) {
  auto owned = std::make_unique<RecordingPort>();
  RecordingPort* inner = owned.get();
  std::string error;
  auto trace = TracePortIo::Create(std::move(owned), path_, &error);
  ASSERT_TRUE(trace);
  trace->PortOut(kControlPort, 0x23);
  EXPECT_EQ(inner->log.size(), 1u);
}

TEST_F(TraceTest, AWriteIsTracedEvenWhenThePortThrows) {
  struct Broken : PortIo {
    uint8_t PortIn(uint16_t) override { throw LinkError("gone"); }
    void PortOut(uint16_t, uint8_t) override { throw LinkError("gone"); }
  } broken;
  std::string error;
  {
    auto trace = TracePortIo::Create(broken, path_, &error);
    ASSERT_TRUE(trace);
    EXPECT_THROW(trace->PortOut(kDataPort, 0x7F), LinkError);
    EXPECT_THROW(trace->PortIn(kStatusPort), LinkError);
  }
  EXPECT_EQ(ReadLines(), Lines{"out 378 7F"});
}

TEST_F(TraceTest, FileThatCannotBeCreatedIsReportedByName) {
  RecordingPort inner;
  std::string error;
  const std::string bad = (dir_ / "missing" / "port.trace").string();
  EXPECT_FALSE(TracePortIo::Create(inner, bad, &error));
  EXPECT_EQ(error, "Cannot create the trace file " + bad + ": No such file or directory");
}

}  // namespace
}  // namespace corvane
