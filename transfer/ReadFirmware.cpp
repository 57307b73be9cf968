#include <array>

#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Hex.h"
#include "target/Connection.h"
#include "transfer/Firmware.h"
#include "transfer/ImageFile.h"

namespace corvane {

void ReadFirmware(Session& s) {
  RunCommand(s, [&] {
    s.host.SetStatus("Connecting...");
    s.host.Repaint();
    if (!Connect(s)) return;
    StatusGuard status(s.host);
    ConnectionGuard connection(s);
    AtomicFile file;  // an unfinished read removes its temporary file
    FilterGuard filter(s.host, Dialog::Save, "Binary file (*.bin) | *.BIN");
    const auto path = s.host.RunDialog(Dialog::Save);
    if (!path) return;
    std::string error;
    if (!file.Open(*path, &error)) {
      s.host.MessageBox(MessageKind::Error, error, Buttons::Ok);
      return;
    }
    s.host.SetStatus("Reading Firmware...");

    const FlashModel& f = FlashModelOf(s.model());
    s.host.SetProgressRange(0, static_cast<int>(f.words));
    s.host.SetProgressPosition(0);
    const std::string question =
        "Stop reading the firmware? The file will not be written; an existing file keeps "
        "its old contents.";
    std::array<uint8_t, 64 * 1024> chunk;
    size_t filled = 0;
    for (uint32_t i = 0; i < f.words; ++i) {
      const uint32_t address = f.base + 4 * i;
      PutFlashValue(chunk.data() + filled, ReadFlash(s, address));
      filled += 4;
      if (filled == chunk.size()) {
        file.Write(chunk.data(), filled);
        filled = 0;
        if (!file.ok()) break;  // Commit says why; reading on would only waste the user's time
      }
      s.host.SetProgressPosition(static_cast<int>(i));
      s.host.SetStatus(Hex8(address));
      s.host.ProcessMessages();
      s.CheckAbort(question);
    }
    file.Write(chunk.data(), filled);
    if (!file.Commit(&error)) {
      s.host.MessageBox(MessageKind::Error, error, Buttons::Ok);
      return;
    }
    s.host.MessageBox(MessageKind::Information, "Reading Flash completed.", Buttons::Ok);
  });
}

}  // namespace corvane
