#include "transfer/RamDump.h"

#include <cctype>

#include "target/Connection.h"
#include "transfer/TransferSteps.h"

namespace corvane {

namespace {

// clang-format off
constexpr RamDumpRegion kRamDumpRegions[] = {
  {RamDumpKind::Dump6071, "6071",   0x40000000, 0x100000},
  {RamDumpKind::Dump6072, "6072",   0xC0400000, 0x80000},
  // 512 MB + 8 KB: streamed to the file, never held.
  {RamDumpKind::BCT13,    "BCT13",  0x80000000, 0x8000800},
  {RamDumpKind::DSI185,   "DSI185", 0x80000000, 0x80800},
  {RamDumpKind::TVNbox,   "TVNbox", 0x80000000, 0x100000},
};
// clang-format on

bool SameFolded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

const RamDumpRegion& RamDumpRegionOf(RamDumpKind kind) {
  for (const RamDumpRegion& r : kRamDumpRegions)
    if (r.kind == kind) return r;
  return kRamDumpRegions[0];
}

std::optional<RamDumpKind> RamDumpFromName(std::string_view name) {
  for (const RamDumpRegion& r : kRamDumpRegions)
    if (SameFolded(r.name, name)) return r.kind;
  return std::nullopt;
}

void RamDump(Session& s, RamDumpKind kind) {
  RamDump(s, RamDumpRegionOf(kind));
}

void RamDump(Session& s, const RamDumpRegion& region) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;

    AtomicFile out;
    if (!OpenOutput(s, out, *path)) return;
    s.host.SetStatus("Reading RAM...");
    s.host.SetProgressRange(0, static_cast<int>(region.words));
    s.host.SetProgressPosition(0);
    ReadWordsToFile(s, out, region.start, region.words, "Stop reading RAM? No file will be saved.");
    if (!CommitOutput(s, out)) return;
    s.host.MessageBox(MessageKind::Information, "Reading RAM completed.", Buttons::Ok);
  });
}

}  // namespace corvane
