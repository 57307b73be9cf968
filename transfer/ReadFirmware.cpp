#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Hex.h"
#include "target/Connection.h"
#include "transfer/Firmware.h"
#include "transfer/Duration.h"
#include "transfer/ImageFile.h"
#include "transfer/TransferSteps.h"

namespace corvane {

void ReadFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;
    AtomicFile file;  // an unfinished read removes its temporary file
    std::string error;
    if (!file.Open(*path, &error)) {
      s.host.MessageBox(MessageKind::Error, error, Buttons::Ok);
      return;
    }

    const FlashModel& f = FlashModelOf(s.model());
    StartRead(s, "Read Firmware", "Reading Firmware...", f.words);
    ReadFlashToFile(s, file, f.base, f.words,
                    "Stop reading the firmware? The file will not be written; an existing file "
                    "keeps its old contents.");
    if (!file.Commit(&error)) {
      s.host.MessageBox(MessageKind::Error, error, Buttons::Ok);
      return;
    }
    s.host.MessageBox(MessageKind::Information, "Reading Flash completed.", Buttons::Ok);
  });
}

}  // namespace corvane
