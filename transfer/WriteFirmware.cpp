#include "flash/FlashEngine.h"
#include "link/Hex.h"
#include "target/Connection.h"
#include "transfer/Firmware.h"
#include "transfer/RamLoader.h"
#include "transfer/TransferSteps.h"

namespace corvane {

namespace {

enum class Method { Blocks, ChipErase, RamLoader };

// How each model's flash is written.
struct FirmwareRow {
  Model model;
  Method method;
  uint32_t base;         // flash base: where the image goes and where it is read back
  uint32_t words;        // image words written
  bool checkProtection;  // ask CheckSector before each block erase
};

// clang-format off
constexpr FirmwareRow kFirmwareRows[] = {
  {Model::DSX6071_6072, Method::Blocks,    0x7FE00000, 0x80000,  true},
  {Model::DSI185,       Method::Blocks,    0x7FF00000, 0x40000,  false},
  {Model::BCT13,        Method::RamLoader, 0x7FF00000, 0x40000,  false},
  {Model::TS1,          Method::ChipErase, 0x7FE00000, 0x80000,  false},
  {Model::DSX6070,      Method::ChipErase, 0x7FF00000, 0x40000,  false},
  {Model::TVNbox,       Method::ChipErase, 0x7FE00000, 0x80000,  false},
  {Model::STB3100,      Method::ChipErase, 0x7FE00000, 0x80000,  false},
  {Model::DSX6170,      Method::ChipErase, 0x7FC00000, 0x100000, false},
};
// clang-format on

constexpr uint32_t kBlockBytes = 0x20000;
constexpr uint32_t kBlockWords = kBlockBytes / 4;
constexpr uint32_t kErasedWord = 0xFFFFFFFF;

// DSX6071/6072: the first 512 KB of flash is the data area, written only on request.
constexpr uint32_t kDataAreaWords = 0x20000;
constexpr uint32_t kDataAreaSectorsWritten[] = {0x7FE10000, 0x7FE08000, 0x7FE0C000};
constexpr uint32_t kDataAreaSectorsErased[] = {0x7FE10000, 0x7FE20000, 0x7FE40000, 0x7FE60000};
// DSI185: the small bottom sectors, erased before the block loop.
constexpr uint32_t kDsi185BottomSectors[] = {0x7FF00000, 0x7FF08000, 0x7FF0C000, 0x7FF10000};

// Bus base of the RAM image the BCT13 loader copies from.
constexpr uint32_t kLoaderRamBase = 0x80002000;

const FirmwareRow& RowOf(Model model) {
  for (const FirmwareRow& row : kFirmwareRows)
    if (row.model == model) return row;
  return kFirmwareRows[0];
}

const std::string kStopWriting =
    "Stop writing? The flash will be left partly written: the decoder may not start until a "
    "complete image is written.";
const std::string kStopVerifying =
    "Stop verifying? The flash has been written; only the check that it holds the image is "
    "skipped.";

class FirmwareWriter {
 public:
  FirmwareWriter(Session& s, ImageReader& image, const FirmwareRow& row)
      : s_(s), image_(image), row_(row) {}

  void Run();
  // False when the loader could not be sent: the flash was never touched.
  bool wrote() const { return row_.method != Method::RamLoader || loaderSent_; }
  // Reads back what Run() wrote; false after the error message when it differs.
  bool Verify(WriteLogScope& log);

 private:
  void WriteWords(uint32_t first, bool blockSteps);
  bool SkipProtectedBlock(uint32_t address);
  bool Skipped(uint32_t word) const { return (skippedBlocks_ >> (word / kBlockWords)) & 1; }
  void SetStatus(const char* text) {
    s_.host.SetStatus(text);
    s_.host.Repaint();
  }

  Session& s_;
  ImageReader& image_;
  const FirmwareRow& row_;
  uint32_t firstWord_ = 0;
  uint32_t skippedBlocks_ = 0;  // bit b: block b was protected and left alone
  bool loaderSent_ = false;
};

void FirmwareWriter::Run() {
  const uint32_t last = row_.words - 1;
  switch (row_.method) {
    case Method::Blocks:
      if (row_.model == Model::DSX6071_6072) {
        if (s_.profile.writeDataArea) {
          SetStatus("Erasing Data Area...");
          for (uint32_t a : kDataAreaSectorsWritten) EraseFlash(s_, a);
        } else {
          firstWord_ = kDataAreaWords;
          if (s_.profile.eraseDataArea) {
            SetStatus("Erasing Data Area...");
            for (uint32_t a : kDataAreaSectorsErased) EraseFlash(s_, a);
          }
        }
        SetStatus("Writing Flash...");
        // File offset stays flash offset: the data area's bytes are passed over, not dropped.
        if (firstWord_ != 0) SkipBytes(image_, 4ull * firstWord_);
        s_.host.SetProgressRange(static_cast<int>(firstWord_), static_cast<int>(last));
        s_.host.SetProgressPosition(0);
      } else {
        s_.host.SetProgressRange(0, static_cast<int>(last));
        s_.host.SetProgressPosition(0);
        SetStatus("Erasing...");
        for (uint32_t a : kDsi185BottomSectors) EraseFlash(s_, a);
        SetStatus("Writing Flash...");
      }
      WriteWords(firstWord_, true);
      break;
    case Method::ChipErase:
      SetStatus("Writing Flash...");
      EraseChip(s_, row_.base);
      s_.host.SetProgressRange(0, static_cast<int>(last));
      s_.host.SetProgressPosition(0);
      WriteWords(0, false);
      break;
    case Method::RamLoader:
      CopyImageToRam(s_, image_, kLoaderRamBase, row_.words);
      loaderSent_ = UploadTrapRoutine(s_, "TRAP.BIN", 10000, "Writing Flash ~10 secs...");
      break;
  }
}

// The block step: true when the block at `address` is protected and the user chose to skip it.
bool FirmwareWriter::SkipProtectedBlock(uint32_t address) {
  if (!row_.checkProtection || !CheckSector(s_, address)) return false;
  return s_.host.MessageBox(
             MessageKind::Confirmation,
             "Sector " + Hex8(address) + " is protected. Do you want to skip this sector?",
             Buttons::YesNo) == Answer::Yes;
}

void FirmwareWriter::WriteWords(uint32_t first, bool blockSteps) {
  WordStatus status;
  uint8_t b[4];
  uint32_t i = first;
  while (i < row_.words) {
    const uint32_t a = row_.base + 4 * i;
    if (blockSteps && (4 * i) % kBlockBytes == 0) {
      if (SkipProtectedBlock(a)) {
        skippedBlocks_ |= 1u << (i / kBlockWords);
        // The next block comes from its own file offset, as if this one had been written.
        i += kBlockWords;
        SkipBytes(image_, 4ull * i);
        s_.CheckAbort(kStopWriting);
        continue;
      }
      EraseFlash(s_, a);
    }
    ReadWord(image_, b, 4ull * i);
    const uint32_t value = FlashValue(b);
    // Erased flash already holds it.
    if (value != kErasedWord) ProgramFlash(s_, a, value);
    s_.host.SetProgressPosition(static_cast<int>(i));
    s_.host.SetStatus(status.AddressValue(a, value));
    s_.host.Repaint();
    s_.host.ProcessMessages();
    s_.CheckAbort(kStopWriting);
    ++i;
  }
}

bool FirmwareWriter::Verify(WriteLogScope& log) {
  uint32_t total = 0;
  for (uint32_t i = firstWord_; i < row_.words; i += kBlockWords)
    if (!Skipped(i)) total += kBlockWords;
  if (total == 0) return true;
  Verifier verifier(s_, image_, total, kStopVerifying);
  // Contiguous runs of written blocks, each read back in one pass.
  uint32_t i = firstWord_;
  while (i < row_.words) {
    if (Skipped(i)) {
      i += kBlockWords;
      continue;
    }
    uint32_t end = i;
    while (end < row_.words && !Skipped(end)) end += kBlockWords;
    verifier.Range(4ull * i, row_.base + 4 * i, end - i);
    i = end;
  }
  return verifier.Report(log);
}

}  // namespace

void WriteFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;

    const FirmwareRow& row = RowOf(s.model());
    // Checked before anything is erased: a short image would leave the flash half empty.
    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * row.words, "image file")) return;
    WriteLogScope log(s);
    if (!log.Open()) return;

    FirmwareWriter writer(s, image, row);
    writer.Run();
    // Without its loader the flash was never written: the error box has said so and the
    // log has the reason before its trailer, but nothing claims completion. A failed
    // read-back is no completion either.
    if (!writer.wrote()) {
      log.Finish();
      return;
    }
    const bool good = !s.verifyAfterWrite || writer.Verify(log);
    image.Close();
    log.Finish();
    if (!good) return;
    s.host.MessageBox(MessageKind::Information, "Writing Flash completed.", Buttons::Ok);
  });
}

}  // namespace corvane
