#include <map>

#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Text.h"
#include "transfer/Duration.h"
#include "transfer/Firmware.h"
#include "transfer/ImageFile.h"
#include "transfer/InputImage.h"
#include "transfer/Transfer.h"
#include "transfer/Verifier.h"
#include "transfer/WordStatus.h"

namespace corvane {

void VerifyFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;
    const FlashModel& f = FlashModelOf(s.model());
    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * f.words, "image file")) return;

    StartRead(s, "Verify Firmware", "Verifying...", f.words);

    // Which sectors differ, by a bottom-boot map (a top-boot part's small sectors fall in
    // its last one).
    const ChipPart generic = GenericPart(f.words, BootBlock::Bottom);
    const SectorMap map(f, &generic);
    std::map<uint32_t, uint64_t> differing;
    uint64_t count = 0;
    uint32_t first = 0;
    WordStatus status;
    uint8_t b[4];
    for (uint32_t i = 0; i < f.words; ++i) {
      const uint32_t a = f.base + 4 * i;
      ReadWord(image, b, 4ull * i);
      if (ReadFlash(s, a) != FlashValue(b)) {
        if (count++ == 0) first = a;
        ++differing[map.SectorOf(a)];
      }
      s.host.SetProgressPosition(static_cast<int>(i));
      s.host.SetStatus(status.Address(a));
      s.host.ProcessMessages();
      s.CheckAbort("Stop verifying? Nothing has been changed; the comparison is not finished.");
    }
    if (count == 0) {
      s.host.MessageBox(MessageKind::Information, "Flash matches " + *path + ".", Buttons::Ok);
      return;
    }
    for (const auto& [sector, words] : differing) {
      s.details.push_back("differs: sector " + Hex8(sector) + ", " + std::to_string(words) +
                          (words == 1 ? " word" : " words"));
    }
    s.host.MessageBox(MessageKind::Error, DiffersText(count, first), Buttons::Ok);
  });
}

}  // namespace corvane
