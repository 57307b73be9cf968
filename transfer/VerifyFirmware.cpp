#include <map>
#include <vector>

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

namespace {

constexpr uint32_t kBlockWords = 0x20000 / 4;

// The blocks a write leaves alone because a chip protects a sector in them.
std::vector<uint32_t> ProtectedBlocks(Session& s, const FlashModel& f, uint32_t first) {
  std::vector<uint32_t> blocks;
  if (!f.checkProtection) return blocks;
  const ChipPart* part = IdentifyChip(f, ReadChipId(s));
  if (!part) return blocks;  // no sector map to ask by: every block is compared
  const SectorMap map(f, part);
  for (uint32_t i = first; i < f.words; i += kBlockWords) {
    const uint32_t block = f.base + 4 * i;
    for (uint32_t sector : map.StartsIn(block, block + 4 * kBlockWords)) {
      if (CheckSector(s, sector) == std::optional<bool>(true)) {
        blocks.push_back(block);
        break;
      }
    }
  }
  return blocks;
}

std::string List(const std::vector<uint32_t>& addresses) {
  std::string out;
  for (uint32_t a : addresses) out += (out.empty() ? "" : ", ") + Hex8(a);
  return out;
}

}  // namespace

void VerifyFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;
    const FlashModel& f = FlashModelOf(s.model());
    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * f.words, "image file", false)) return;

    // What Write Firmware would write with the same options, and only that.
    const uint32_t first =
        f.dataArea.words != 0 && !s.profile.writeDataArea ? f.dataArea.words : 0;
    const std::vector<uint32_t> skipped = ProtectedBlocks(s, f, first);
    auto isSkipped = [&](uint32_t address) {
      for (uint32_t b : skipped) {
        if (address >= b && address - b < 4 * kBlockWords) return true;
      }
      return false;
    };
    const uint32_t compared = f.words - first - kBlockWords * static_cast<uint32_t>(skipped.size());
    StartRead(s, "Verify Firmware", "Verifying...", compared);

    // Which sectors differ, by a bottom-boot map (a top-boot part's small sectors fall in
    // its last one).
    const ChipPart generic = GenericPart(f.words, BootBlock::Bottom);
    const SectorMap map(f, &generic);
    std::map<uint32_t, uint64_t> differing;
    uint64_t count = 0;
    uint32_t firstDiffering = 0;
    WordStatus status;
    uint8_t b[4];
    int position = 0;
    SkipBytes(image, 4ull * first);
    for (uint32_t i = first; i < f.words; ++i) {
      const uint32_t a = f.base + 4 * i;
      ReadWord(image, b, 4ull * i);
      if (isSkipped(a)) continue;
      // A word that differs is read again: the link may have changed it, not the flash.
      if (ReadFlashExpecting(s, a, FlashValue(b)) != FlashValue(b)) {
        if (count++ == 0) firstDiffering = a;
        ++differing[map.SectorOf(a)];
      }
      s.host.SetProgressPosition(position++);
      s.host.SetStatus(status.Address(a));
      s.host.ProcessMessages();
      s.CheckAbort("Stop verifying? Nothing has been changed; the comparison is not finished.");
    }
    std::string notes;
    if (image.size() > 4ull * f.words) {
      notes += " Only the first " + std::to_string(4ull * f.words) + " bytes of the file's " +
               std::to_string(image.size()) + " were compared: a " + s.profileRow().caption +
               " flash holds no more.";
    }
    if (first != 0) {
      notes += " The data area, " + Hex8(f.base) + " to " + Hex8(f.base + 4 * first - 1) +
               ", was not compared: without \"Write Data Area\" Write Firmware leaves it as it "
               "is.";
    }
    if (!skipped.empty()) {
      notes += std::string(skipped.size() == 1 ? " The block at " : " The blocks at ") +
               List(skipped) + (skipped.size() == 1 ? " was" : " were") +
               " not compared: a sector in it is protected, and Write Firmware skips it when "
               "asked to.";
    }
    if (count == 0) {
      s.host.MessageBox(MessageKind::Information, "Flash matches " + *path + "." + notes,
                        Buttons::Ok);
      return;
    }
    for (const auto& [sector, words] : differing) {
      s.details.push_back("differs: sector " + Hex8(sector) + ", " + std::to_string(words) +
                          (words == 1 ? " word" : " words"));
    }
    s.host.MessageBox(MessageKind::Error, DiffersText(count, firstDiffering) + notes, Buttons::Ok);
  });
}

}  // namespace corvane
