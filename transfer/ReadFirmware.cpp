#include "flash/FlashModels.h"
#include "transfer/Duration.h"
#include "transfer/Firmware.h"
#include "transfer/RegionRead.h"
#include "transfer/Transfer.h"

namespace corvane {

void ReadFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;
    AtomicFile file;  // an unfinished read removes its temporary file
    if (!OpenOutput(s.host, file, *path)) return;

    const FlashModel& f = FlashModelOf(s.model());
    StartRead(s, "Read Firmware", "Reading Firmware...", f.words);
    ReadRegionToFile(s, file, f.base, f.words, WordOrder::Image,
                     "Stop reading the firmware? The file will not be written; an existing file "
                     "keeps its old contents.");
    if (!CommitOutput(s.host, file)) return;
    s.host.MessageBox(MessageKind::Information, "Reading Flash completed.", Buttons::Ok);
  });
}

}  // namespace corvane
