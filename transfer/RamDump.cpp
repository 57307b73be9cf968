#include "transfer/RamDump.h"

#include "transfer/RegionRead.h"
#include "transfer/Transfer.h"

namespace corvane {

void RamDump(Session& s, const RamRegion& region) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;

    AtomicFile out;
    if (!OpenOutput(s.host, out, *path)) return;
    s.host.SetStatus("Reading RAM...");
    s.host.SetProgressRange(0, static_cast<int>(region.words));
    s.host.SetProgressPosition(0);
    ReadRegionToFile(s, out, region.start, region.words, WordOrder::Bus,
                     "Stop reading RAM? No file will be saved.");
    if (!CommitOutput(s.host, out)) return;
    s.host.MessageBox(MessageKind::Information, "Reading RAM completed.", Buttons::Ok);
  });
}

}  // namespace corvane
