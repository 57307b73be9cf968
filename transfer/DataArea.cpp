#include "transfer/DataArea.h"

#include <optional>
#include <vector>

#include "flash/FlashEngine.h"
#include "target/LinkTest.h"
#include "transfer/Backup.h"
#include "transfer/Duration.h"
#include "transfer/FirmwareLog.h"
#include "transfer/InputImage.h"
#include "transfer/RamLoader.h"
#include "transfer/RegionRead.h"
#include "transfer/Transfer.h"
#include "transfer/Verifier.h"

namespace corvane {

namespace {

constexpr uint32_t kImageWords = 0x20000;  // a data-area image is 512 KB

const std::string kStopVerifying =
    "Stop verifying? The data area has been written; only the check that it holds the file is "
    "skipped.";
const std::string kStopReading = "Stop reading the data area? No file will be saved.";

// Whether the area at `start` holds the image's words: from what a backup read (held), or
// by a read that stops at the first word that differs.
bool AlreadyHeld(Session& s, ImageReader& image, uint32_t start,
                 const std::vector<uint32_t>* held) {
  const std::vector<uint32_t> wanted = ImageWords(image, kImageWords);
  if (held) return *held == wanted;
  s.host.SetStatus("Comparing...");
  s.host.SetProgressRange(0, static_cast<int>(kImageWords) - 1);
  s.host.SetProgressPosition(0);
  ReadMeter meter(s);
  for (uint32_t i = 0; i < kImageWords; ++i) {
    if (ReadFlash(s, start + 4 * i) != wanted[i]) return false;
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.ProcessMessages();
    s.CheckAbort("Stop comparing? Nothing has been written yet.");
  }
  return true;
}

}  // namespace

void WriteDataArea(Session& s) {
  const DataAreaLayout& area = s.profileRow().dataArea;
  if (!area.loader) {
    // Said before the decoder is touched: there is nothing to connect for.
    s.host.MessageBox(MessageKind::Error,
                      std::string("Write Data Area is not available for ") +
                          s.profileRow().caption + ": nothing was written.",
                      Buttons::Ok);
    return;
  }
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;

    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * kImageWords, "data area file")) return;
    // Nothing but a word of RAM can prove the link before the loader overwrites the area.
    if (!ProveRoundTrip(s)) return;
    Duration plan(s.linkCost);
    if (s.backup) plan.Add("back-up", plan.Peeks(2.0 * kImageWords));
    plan.Add("copy to RAM", plan.Pokes(kImageWords));
    // The loader's own copy is covered by the fixed wait after it.
    plan.Add("loader", 15'000'000 + plan.Pokes(30) + plan.Peeks(1));
    if (s.verifyAfterWrite) plan.Add("read-back", plan.Peeks(kImageWords));
    if (!Announce(s, "Write Data Area", plan, true)) return;
    // As Read Data Area saves it, so that this command can put it back. Its first read
    // also tells whether the area already holds the file: the loader rewrites the whole
    // area, so it is run only when a word differs.
    std::optional<BackupFile> saving =
        s.backup ? BackupFile::Open(s, BackupRegion::DataArea, area.readStart, kImageWords,
                                    WordOrder::Bus)
                 : std::nullopt;
    if (s.backup && !saving) return;
    if (saving) saving->ReadAll();
    if (!s.fullWrite && AlreadyHeld(s, image, area.readStart, saving ? &saving->held() : nullptr)) {
      s.host.MessageBox(MessageKind::Information,
                        "The data area already holds " + *path + ": nothing was written.",
                        Buttons::Ok);
      return;
    }
    if (saving && (!saving->Prove(0, kImageWords) || !saving->Commit())) return;
    const std::string backup = saving ? saving->path() : std::string();
    WriteLogScope log(s);
    if (!log.Open()) return;

    CopyImageToRam(s, image, area.ramBase, kImageWords);
    const std::string restore =
        RestoreText(s, backup, "Flash > Write Data Area", "write-data-area",
                    "Read Data Area");
    bool sent = false;
    try {
      sent = UploadTrapRoutine(s, area.loader, 15000, "Writing Flash ~15 secs...");
    } catch (const TransferError& e) {
      // The loader was sent: the data area may be half written.
      s.restoreFrom = backup;
      s.host.MessageBox(MessageKind::Error, std::string(e.what()) + "\n" + restore, Buttons::Ok);
      return;
    }
    // Without its loader nothing reached the data area: the log has the reason before its
    // trailer, and nothing claims completion.
    if (!sent) {
      log.Finish();
      return;
    }
    // The loader gives no sign of success; reading the data area back is the only proof.
    bool good = true;
    if (s.verifyAfterWrite) {
      Verifier verifier(s, image, kImageWords, kStopVerifying);
      verifier.Range(0, area.readStart, kImageWords);
      good = verifier.Report(log, restore);
      if (!good) s.restoreFrom = backup;
    }
    image.Close();
    log.Finish();
    if (!good) return;
    s.host.MessageBox(MessageKind::Information,
                      CompletedText(s, "Writing Data Area completed.", backup), Buttons::Ok);
  });
}

void ReadDataArea(Session& s) {
  const DataAreaLayout& area = s.profileRow().dataArea;
  if (area.readBytes == 0) {
    s.host.MessageBox(MessageKind::Error,
                      std::string("Read Data Area is not available for ") +
                          s.profileRow().caption + ": nothing was read.",
                      Buttons::Ok);
    return;
  }
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;

    AtomicFile out;
    if (!OpenOutput(s.host, out, *path)) return;
    const uint32_t words = area.readBytes / 4;
    StartRead(s, "Read Data Area", "Reading Data...", words);
    ReadRegionToFile(s, out, area.readStart, words, WordOrder::Bus, kStopReading);
    if (!CommitOutput(s.host, out)) return;
    s.host.MessageBox(MessageKind::Information, "Reading Data completed.", Buttons::Ok);
  });
}

}  // namespace corvane
