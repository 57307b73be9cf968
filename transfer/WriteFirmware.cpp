#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <vector>

#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Text.h"
#include "target/LinkTest.h"
#include "transfer/Backup.h"
#include "transfer/Duration.h"
#include "transfer/Firmware.h"
#include "transfer/FirmwareLog.h"
#include "transfer/ImageFile.h"
#include "transfer/InputImage.h"
#include "transfer/RamLoader.h"
#include "transfer/Transfer.h"
#include "transfer/Verifier.h"
#include "transfer/WordStatus.h"

namespace corvane {

namespace {

constexpr uint32_t kBlockBytes = 0x20000;
constexpr uint32_t kBlockWords = kBlockBytes / 4;
constexpr uint32_t kErasedWord = 0xFFFFFFFF;

const std::string kStopWriting =
    "Stop writing? The flash will be left partly written: the decoder may not start until a "
    "complete image is written.";
const std::string kStopVerifying =
    "Stop verifying? The flash has been written; only the check that it holds the image is "
    "skipped.";

// A word that fails every attempt costs about a second: a few may be stuck bits the
// read-back will name, a run of them or many in all mean a sector or chip that will not
// program, and going on would take hours for nothing.
constexpr int kFailedWordRun = 8;
constexpr int kFailedWordLimit = 64;

// One sector of the region a write covers, and whether the flash holds the image there.
struct SectorState {
  uint32_t start = 0, end = 0;  // bus addresses, end exclusive
  bool differs = false;
  bool blank = false;  // reads erased throughout: programmed without an erase
  uint32_t words() const { return (end - start) / 4; }
};

class FirmwareWriter {
 public:
  FirmwareWriter(Session& s, ImageReader& image, const FlashModel& flash, const ChipPart* part)
      : s_(s), image_(image), f_(flash), part_(part) {}

  void Run();
  // The estimate whose parts the time left follows while the writer erases and writes.
  void SetPlan(const Duration* plan) { plan_ = plan; }
  // Erases and programs only the sectors that differ (each on its own, or the whole chip
  // when that is cheaper); image holds the flash's words as the file gives them.
  void WriteSectors(const std::vector<SectorState>& sectors, const std::vector<uint32_t>& image,
                    bool chipErase);
  // False when the loader could not be sent: the flash was never touched.
  bool wrote() const { return f_.method != WriteMethod::RamLoader || loaderSent_; }
  // Something was erased, or a loader was started: the flash may no longer hold the old
  // firmware.
  bool touched() const { return !erased_.empty() || loaderStarted_; }
  // What the flash holds now, for a write that did not finish.
  std::string StateText() const;
  // Reads back what Run() wrote; false after the error message (followed by after) when it
  // differs.
  bool Verify(WriteLogScope& log, const std::string& after,
              const std::function<void(uint32_t, uint32_t)>& mend = {});

 private:
  void WriteBlocks();
  uint32_t BlockOf(uint32_t address) const { return (address - f_.base) / kBlockBytes; }
  bool Skipped(uint32_t word) const { return (skippedBlocks_ >> (word / kBlockWords)) & 1; }
  // The block step's question, asked once per block before anything in it is erased.
  bool SkipProtectedBlock(uint32_t address);
  void EraseSectors(std::span<const uint32_t> addresses);
  void EraseBlock(uint32_t address);
  enum class EraseKind { Board, Chip, Sector };  // the model's own, the whole chip, a sector
  void Erase(uint32_t address, EraseKind kind = EraseKind::Board);
  void Program(uint32_t address, uint32_t value);
  void WriteWords(uint32_t first, bool blockSteps);
  void SetStatus(const char* text) {
    s_.host.SetStatus(text);
    s_.host.Repaint();
  }

  Session& s_;
  ImageReader& image_;
  const FlashModel& f_;
  const ChipPart* part_;  // what the chips answered as; null when unknown
  uint32_t firstWord_ = 0;
  uint32_t askedBlocks_ = 0;    // bit b: block b's protection was checked
  uint32_t skippedBlocks_ = 0;  // bit b: block b was protected and left alone
  std::optional<SectorMap> sectors_;
  std::vector<uint32_t> erasedSectors_;  // erased during this write
  int failedRun_ = 0, failedWords_ = 0;
  uint32_t firstFailed_ = 0;
  bool loaderSent_ = false;
  bool loaderStarted_ = false;
  std::vector<std::pair<uint32_t, uint32_t>> erased_;  // spans erased so far (end exclusive)
  uint32_t writtenFrom_ = 0, writtenEnd_ = 0;  // words handled by the word loop so far
  bool erasing_ = false;  // an erase has begun and not yet ended
  const Duration* plan_ = nullptr;
  bool differential_ = false;   // only the sectors that differ are written
  bool sectorsWritten_ = false;  // ... and all of them were
};

std::string FirmwareWriter::StateText() const {
  if (loaderStarted_) {
    return "The decoder's loader may have written part of the flash: the decoder may not "
           "start until a complete image is written.";
  }
  std::string text = erasing_ ? "The flash may now be partly erased" : "The flash is now erased";
  for (size_t i = 0; i < erased_.size(); ++i) {
    text += std::string(i == 0 ? " from " : i + 1 == erased_.size() ? " and from " : ", from ") +
            Hex8(erased_[i].first) + " to " + Hex8(erased_[i].second - 1);
  }
  if (writtenEnd_ > writtenFrom_) {
    text += " and written from " + Hex8(writtenFrom_) + " up to " + Hex8(writtenEnd_ - 1);
  }
  if (sectorsWritten_) {
    return text + "; every other sector already held the image, so the flash should hold it "
                  "now, but it was not read back to prove it.";
  }
  if (differential_) text += "; every other sector holds the image";
  return text + ": the decoder may not start until a complete image is written.";
}

void FirmwareWriter::Run() {
  const uint32_t last = f_.words - 1;
  switch (f_.method) {
    case WriteMethod::Blocks:
      WriteBlocks();
      break;
    case WriteMethod::ChipErase:
      sectors_.emplace(f_, part_);
      SetStatus("Writing Flash...");
      // Apart: the erase moves no progress bar, the words do.
      if (plan_) BeginPart(s_, *plan_, "erase");
      Erase(f_.base);
      if (plan_) BeginPart(s_, *plan_, "write");
      s_.host.SetProgressRange(0, static_cast<int>(last));
      s_.host.SetProgressPosition(0);
      WriteWords(0, false);
      break;
    case WriteMethod::RamLoader:
      CopyImageToRam(s_, image_, f_.loader.ramBase, f_.words);
      loaderStarted_ = true;
      loaderSent_ = UploadTrapRoutine(s_, f_.loader.file, f_.loader.waitMs, f_.loader.waitText);
      loaderStarted_ = loaderSent_;
      break;
  }
}

// Everything that decides what gets erased comes before the first erase.
void FirmwareWriter::WriteBlocks() {
  const uint32_t last = f_.words - 1;
  sectors_.emplace(f_, part_);
  if (f_.dataArea.words != 0) {
    if (s_.profile.writeDataArea) {
      // The data-area sectors lie in the first block: a "skip" must find it untouched.
      if (!SkipProtectedBlock(f_.base)) {
        SetStatus("Erasing Data Area...");
        EraseSectors(f_.dataArea.sectorsWhenWritten);
      }
    } else {
      firstWord_ = f_.dataArea.words;
      if (s_.profile.eraseDataArea) {
        SetStatus("Erasing Data Area...");
        EraseSectors(f_.dataArea.sectorsWhenErased);
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
    EraseSectors(f_.preErase);
    SetStatus("Writing Flash...");
  }
  WriteWords(firstWord_, true);
}

bool FirmwareWriter::SkipProtectedBlock(uint32_t address) {
  const uint32_t block = BlockOf(address);
  if (askedBlocks_ & (1u << block)) return Skipped(block * kBlockWords);
  askedBlocks_ |= 1u << block;
  if (!f_.checkProtection) return false;
  for (uint32_t sector : sectors_->StartsIn(address, address + kBlockBytes)) {
    const std::optional<bool> isProtected = CheckSector(s_, sector);
    if (!isProtected) {
      StopTransfer(s_, "The flash chips did not answer the protection query for sector " +
                           Hex8(sector) + ": whether it is protected cannot be told, so it is "
                           "not erased.");
    }
    if (!*isProtected) continue;
    const bool skip =
        s_.host.MessageBox(
            MessageKind::Confirmation,
            "Sector " + Hex8(sector) + " is protected. Do you want to skip this sector?",
            Buttons::YesNo) == Answer::Yes;
    if (skip) skippedBlocks_ |= 1u << block;
    return skip;
  }
  return false;
}

// The sector erases before the word loop: each once, and none the block step repeats.
void FirmwareWriter::EraseSectors(std::span<const uint32_t> addresses) {
  for (uint32_t a : addresses) {
    if (std::find(erasedSectors_.begin(), erasedSectors_.end(), sectors_->SectorOf(a)) ==
        erasedSectors_.end()) {
      Erase(a);
    }
  }
}

void FirmwareWriter::EraseBlock(uint32_t address) {
  EraseSectors(sectors_->StartsIn(address, address + kBlockBytes));
}

// One erase, or the end of the write: programming over a sector that did not erase only
// fails word by word.
void FirmwareWriter::Erase(uint32_t address, EraseKind kind) {
  // Counted from the first command: a sector that did not erase, or whose erase the link
  // cut short, may be half erased.
  if (kind == EraseKind::Board && f_.method == WriteMethod::ChipErase) kind = EraseKind::Chip;
  const bool chip = kind == EraseKind::Chip;
  const uint32_t from = chip ? f_.base : sectors_->SectorOf(address);
  const uint32_t end = chip ? f_.base + 4 * f_.words : sectors_->EndOf(address, f_);
  // Kept as a sorted list of disjoint spans: what the flash holds is said span by span.
  erased_.emplace_back(from, end);
  std::sort(erased_.begin(), erased_.end());
  std::vector<std::pair<uint32_t, uint32_t>> merged;
  for (const auto& span : erased_) {
    if (!merged.empty() && span.first <= merged.back().second) {
      merged.back().second = std::max(merged.back().second, span.second);
    } else {
      merged.push_back(span);
    }
  }
  erased_ = std::move(merged);
  erasing_ = true;
  // A slow part of the catalogue is given its data sheet's longest erase and half again.
  // Where the sheet gives no longest chip erase, the chip is taken to be as much slower
  // than typical as its sectors may be.
  const bool wholeChip = chip && FlashModelOf(s_.model()).eraseChip == EraseMethod::Chip;
  int64_t longestUs = 0;
  if (part_) {
    longestUs = wholeChip ? part_->chipEraseMaxUs : part_->sectorEraseMaxUs;
    if (wholeChip && longestUs == 0 && part_->sectorEraseTypUs > 0) {
      longestUs = part_->chipEraseTypUs * part_->sectorEraseMaxUs / part_->sectorEraseTypUs;
    }
  }
  const int64_t giveUpUs = longestUs * 3 / 2;
  const bool erased = kind == EraseKind::Chip     ? EraseChip(s_, address, giveUpUs)
                      : kind == EraseKind::Sector ? EraseSector(s_, address, giveUpUs)
                                                  : EraseFlash(s_, address, giveUpUs);
  erasing_ = !erased;  // a sector that did not erase may be half erased
  if (!erased) {
    StopTransfer(s_, "Erasing the flash failed at " + Hex8(address) +
                         ": it does not read erased (the sector may be protected).");
  }
  if (sectors_) erasedSectors_.push_back(sectors_->SectorOf(address));
}

void FirmwareWriter::Program(uint32_t address, uint32_t value) {
  if (ProgramFlash(s_, address, value)) {
    failedRun_ = 0;
    return;
  }
  if (failedRun_++ == 0) firstFailed_ = address;
  ++failedWords_;
  // A link that corrupts reads this often may be what makes the words look wrong.
  const std::string blame =
      s_.linkNoise >= static_cast<uint64_t>(failedWords_)
          ? "the link corrupted " + std::to_string(s_.linkNoise) +
                " reads as well, so the cable or the port may be at fault: run the link test (" +
                s_.shellCommand + " link-test)"
          : "";
  if (failedRun_ >= kFailedWordRun) {
    StopTransfer(s_, "Programming the flash failed at " + Hex8(firstFailed_) + ": " +
                         std::to_string(failedRun_) +
                         " words in a row do not take their values (" +
                         (blame.empty() ? "the sector may be protected or failing" : blame) +
                         ").");
  }
  if (failedWords_ >= kFailedWordLimit) {
    StopTransfer(s_, "Programming the flash failed at " + Hex8(address) + ": " +
                         std::to_string(failedWords_) + " words do not take their values (" +
                         (blame.empty() ? "the flash may be failing" : blame) + ").");
  }
}

void FirmwareWriter::WriteWords(uint32_t first, bool blockSteps) {
  WordStatus status;
  uint8_t b[4];
  uint32_t i = first;
  while (i < f_.words) {
    const uint32_t a = f_.base + 4 * i;
    if (blockSteps && (4 * i) % kBlockBytes == 0) {
      if (SkipProtectedBlock(a)) {
        // The next block comes from its own file offset, as if this one had been written.
        i += kBlockWords;
        SkipBytes(image_, 4ull * i);
        s_.CheckAbort(kStopWriting);
        continue;
      }
      EraseBlock(a);
    }
    ReadWord(image_, b, 4ull * i);
    const uint32_t value = FlashValue(b);
    if (writtenEnd_ == writtenFrom_) writtenFrom_ = a;
    writtenEnd_ = a + 4;
    // Erased flash already holds it.
    if (value != kErasedWord) Program(a, value);
    s_.host.SetProgressPosition(static_cast<int>(i));
    s_.host.SetStatus(status.AddressValue(a, value));
    s_.host.Repaint();
    s_.host.ProcessMessages();
    s_.CheckAbort(kStopWriting);
    ++i;
  }
}

void FirmwareWriter::WriteSectors(const std::vector<SectorState>& sectors,
                                  const std::vector<uint32_t>& image, bool chipErase) {
  sectors_.emplace(f_, part_);
  differential_ = !chipErase;
  if (f_.dataArea.words != 0 && !s_.profile.writeDataArea) {
    firstWord_ = f_.dataArea.words;
    if (s_.profile.eraseDataArea) {
      SetStatus("Erasing Data Area...");
      EraseSectors(f_.dataArea.sectorsWhenErased);
    }
  }
  uint32_t total = 0;
  for (const SectorState& sector : sectors) {
    if (sector.differs || chipErase) total += sector.words();
  }
  s_.host.SetProgressRange(0, static_cast<int>(total) - 1);
  s_.host.SetProgressPosition(0);
  if (chipErase) {
    SetStatus("Erasing...");
    if (plan_) BeginPart(s_, *plan_, "erase");
    Erase(f_.base, EraseKind::Chip);
    if (plan_) BeginPart(s_, *plan_, "write");
  }
  SetStatus("Writing Flash...");
  WordStatus status;
  int position = 0;
  for (const SectorState& sector : sectors) {
    if (!sector.differs && !chipErase) continue;
    // A block's protection is asked before the first of its sectors is erased.
    const uint32_t block = f_.base + (sector.start - f_.base) / kBlockBytes * kBlockBytes;
    if (f_.checkProtection && SkipProtectedBlock(block)) {
      position += static_cast<int>(sector.words());
      continue;
    }
    if (!chipErase && !sector.blank) Erase(sector.start, EraseKind::Sector);
    for (uint32_t a = sector.start; a < sector.end; a += 4) {
      const uint32_t value = image[(a - f_.base) / 4];
      if (writtenEnd_ == writtenFrom_) writtenFrom_ = a;
      writtenEnd_ = a + 4;
      if (value != kErasedWord) Program(a, value);
      s_.host.SetProgressPosition(position++);
      s_.host.SetStatus(status.AddressValue(a, value));
      s_.host.Repaint();
      s_.host.ProcessMessages();
      s_.CheckAbort(kStopWriting);
    }
  }
  sectorsWritten_ = differential_;
}

bool FirmwareWriter::Verify(WriteLogScope& log, const std::string& after,
                            const std::function<void(uint32_t, uint32_t)>& mend) {
  uint32_t total = 0;
  for (uint32_t i = firstWord_; i < f_.words; i += kBlockWords)
    if (!Skipped(i)) total += kBlockWords;
  if (total == 0) return true;
  Verifier verifier(s_, image_, total, kStopVerifying);
  verifier.mend = mend;
  // Contiguous runs of written blocks, each read back in one pass.
  uint32_t i = firstWord_;
  while (i < f_.words) {
    if (Skipped(i)) {
      i += kBlockWords;
      continue;
    }
    uint32_t end = i;
    while (end < f_.words && !Skipped(end)) end += kBlockWords;
    verifier.Range(4ull * i, f_.base + 4 * i, end - i);
    i = end;
  }
  return verifier.Report(log, after);
}

// What the write will take on this port, before anything is erased: the words the image
// really programs (erased ones are passed over) decide most of it, the chips' own erase
// times the rest.
Duration Plan(Session& s, const FlashModel& f, const ChipPart* part, ImageReader& image) {
  const int lead = f.leadingReset ? 1 : 0;
  Duration d(s.linkCost);
  // Every word read twice: the second read proves the first.
  if (s.backup) d.Add("back-up", d.Peeks(2.0 * f.words));
  uint32_t first = 0;
  if (f.dataArea.words != 0 && !s.profile.writeDataArea) first = f.dataArea.words;
  auto programmed = [&] { return CountProgrammedWords(image, first, f.words - first); };
  const ChipPart* times = part ? part : FindChipPart(f.usualPart ? f.usualPart : "");
  switch (f.method) {
    case WriteMethod::Blocks: {
      // Every sector of the region once, each block's asked first.
      const SectorMap map(f, part ? part : times);
      uint32_t from = f.base + 4 * first;
      if (first != 0 && s.profile.eraseDataArea) from = f.base;
      const auto sectors = map.StartsIn(from, f.base + 4 * f.words);
      const double eraseUs = times ? static_cast<double>(times->sectorEraseTypUs) : 0;
      d.Add("erase", sectors.size() * d.Erase(eraseUs, 6 + lead));
      if (f.checkProtection) d.Add("erase", sectors.size() * (d.Pokes(6) + d.Peeks(3)));
      d.Add("write", programmed() * d.ProgramWord(4 + lead));
      break;
    }
    case WriteMethod::ChipErase:
      d.Add("erase", d.Erase(times ? static_cast<double>(times->chipEraseTypUs) : 0, 6 + lead));
      d.Add("write", programmed() * d.ProgramWord(4 + lead));
      break;
    case WriteMethod::RamLoader:
      // The loader's own copy is covered by the fixed wait after it.
      d.Add("copy to RAM", d.Pokes(f.words));
      d.Add("loader", f.loader.waitMs * 1000.0 + d.Pokes(30) + d.Peeks(1));
      break;
  }
  if (s.verifyAfterWrite) d.Add("read-back", d.Peeks(f.words - first));
  return d;
}

// The chips of a board that erases must answer a part of the catalogue: on anything else
// the protection query and the sector map would be guesses. Null after one message.
const ChipPart* IdentifyBeforeErasing(Session& s, const FlashModel& f) {
  const ChipId id = ReadChipId(s);
  if (!id.agreed) {
    s.host.MessageBox(MessageKind::Error,
                      "Nothing was erased: the flash chips' identification read differently "
                      "each time. The link corrupts data: check the cable and the port with the "
                      "link test (" + s.shellCommand + " link-test).",
                      Buttons::Ok);
    return nullptr;
  }
  const ChipPart* part = IdentifyChip(f, id);
  if (part) {
    s.details.push_back(std::string("chips: ") + part->name);
    return part;
  }
  std::string known;
  for (const ChipPart& p : ChipCatalogue()) {
    if (p.words < f.words) continue;
    known += (known.empty() ? "" : ", ") + std::string(p.name);
  }
  s.host.MessageBox(MessageKind::Error,
                    "Nothing was erased: the flash chips answered maker " + Hex8(id.manufacturer) +
                        " and device " + Hex8(id.device) + ", which is no part Corvane knows "
                        "on a " + s.profileRow().caption + " (it knows " + known +
                        "). Check that the right decoder type is selected.",
                    Buttons::Ok);
  return nullptr;
}

// After the flash was touched, a write that ends any other way than complete says what the
// flash holds now and how to put the old firmware back, in one message.
template <class Body>
void TellWhatIsLeft(Session& s, const FirmwareWriter& writer, const std::string& backup,
                    Body&& body) {
  auto say = [&](MessageKind kind, const std::string& what) {
    s.restoreFrom = backup;
    s.host.MessageBox(kind,
                      what + " " + writer.StateText() + "\n" +
                          RestoreText(s, backup, "Flash > Write Firmware", "write-firmware", "Read Firmware"),
                      Buttons::Ok);
  };
  try {
    body();
  } catch (const TransferError& e) {
    if (!writer.touched()) throw;
    say(MessageKind::Error, e.what());
  } catch (const NoAdapterError&) {
    if (!writer.touched()) throw;
    say(MessageKind::Error,
        "No adapter answers any more: the port's lines read as if nothing were plugged in. "
        "Check the cable's plugs.");
  } catch (const LinkError&) {
    if (!writer.touched()) throw;
    say(MessageKind::Error,
        "The decoder stopped answering during the write: check the cable and the decoder's "
        "power.");
  } catch (const AbortError&) {
    if (!writer.touched()) throw;
    say(MessageKind::Warning, "Writing was stopped.");
  }
}

// The sectors of [first word, end of flash) and whether each holds its image: from what the
// backup read (held, the whole flash), or else by a compare read that stops at a sector's
// first differing word, since that sector is written whole anyway.
std::vector<SectorState> SectorsFrom(const FlashModel& f, const SectorMap& map, uint32_t first) {
  const uint32_t from = f.base + 4 * first, to = f.base + 4 * f.words;
  std::vector<uint32_t> starts = map.StartsIn(from, to);
  if (starts.empty() || starts.front() != from) starts.insert(starts.begin(), from);
  std::vector<SectorState> sectors;
  for (size_t i = 0; i < starts.size(); ++i) {
    sectors.push_back({starts[i], i + 1 < starts.size() ? starts[i + 1] : to, false, false});
  }
  return sectors;
}

void CompareHeld(const FlashModel& f, SectorState& sector, const std::vector<uint32_t>& image,
                 const std::vector<uint32_t>& held) {
  sector.blank = true;
  for (uint32_t a = sector.start; a < sector.end; a += 4) {
    const uint32_t i = (a - f.base) / 4;
    sector.differs = sector.differs || held[i] != image[i];
    sector.blank = sector.blank && held[i] == kErasedWord;
  }
}

// examined: told of each sector once it is known.
void CompareSectors(Session& s, const FlashModel& f, std::vector<SectorState>& sectors,
                    const std::vector<uint32_t>& image, const std::vector<uint32_t>* held,
                    const std::function<void(const SectorState&)>& examined) {
  if (held) {
    for (SectorState& sector : sectors) CompareHeld(f, sector, image, *held);
    return;
  }
  const uint32_t from = sectors.front().start;
  WordStatus status;
  s.host.SetStatus("Comparing...");
  s.host.SetProgressRange(0, static_cast<int>((f.base + 4 * f.words - from) / 4) - 1);
  s.host.SetProgressPosition(0);
  s.host.Repaint();
  ReadMeter meter(s);
  for (SectorState& sector : sectors) {
    for (uint32_t a = sector.start; a < sector.end && !sector.differs; a += 4) {
      sector.differs = ReadFlash(s, a) != image[(a - f.base) / 4];
      s.host.SetProgressPosition(static_cast<int>((a - from) / 4));
      s.host.SetStatus(status.Address(a));
      s.host.ProcessMessages();
      s.CheckAbort("Stop comparing? Nothing has been erased or written yet.");
    }
    examined(sector);
  }
}

// "7FE00000 to 7FE7FFFF, 7FEA0000 to 7FFFFFFF": the sectors the write left as they were.
std::string SpansText(const std::vector<SectorState>& sectors, bool differing) {
  std::string text;
  for (size_t i = 0; i < sectors.size(); ++i) {
    if (sectors[i].differs != differing) continue;
    size_t j = i;
    while (j + 1 < sectors.size() && sectors[j + 1].differs == differing) ++j;
    text += (text.empty() ? "" : ", ") + Hex8(sectors[i].start) + " to " +
            Hex8(sectors[j].end - 1);
    i = j;
  }
  return text;
}

// What writing only the differing sectors takes from here on, with what the reads so far
// measured of this port; chip: the whole chip erased and written instead.
Duration RestOfWrite(Session& s, const FlashModel& f, const ChipPart* part,
                     const std::vector<SectorState>& sectors, const std::vector<uint32_t>& image,
                     uint32_t proofWords, bool chip) {
  const int lead = f.leadingReset ? 1 : 0;
  const ChipPart* times = part ? part : FindChipPart(f.usualPart ? f.usualPart : "");
  Duration d(s.linkCost);
  if (proofWords != 0) d.Add("back-up", d.Peeks(proofWords));
  uint64_t programmed = 0, erases = 0;
  for (const SectorState& sector : sectors) {
    if (!sector.differs && !chip) continue;
    erases += !sector.blank;
    for (uint32_t a = sector.start; a < sector.end; a += 4) {
      programmed += image[(a - f.base) / 4] != kErasedWord;
    }
  }
  const double sectorUs = times ? static_cast<double>(times->sectorEraseTypUs) : 0;
  const double chipUs = times ? static_cast<double>(times->chipEraseTypUs) : 0;
  d.Add("erase", chip ? d.Erase(chipUs, 6 + lead) : static_cast<double>(erases) * d.Erase(sectorUs, 6 + lead));
  if (f.checkProtection && !chip) d.Add("erase", static_cast<double>(erases) * (d.Pokes(6) + d.Peeks(3)));
  d.Add("write", static_cast<double>(programmed) * d.ProgramWord(4 + lead));
  if (s.verifyAfterWrite) d.Add("read-back", d.Peeks(sectors.empty() ? 0 : (f.base + 4 * f.words - sectors.front().start) / 4));
  return d;
}

// Write Firmware on a board whose engine erases sector by sector: what the flash already
// holds is left alone, and only the sectors that differ are erased and programmed.
void WriteChangedSectors(Session& s, const FlashModel& f, const ChipPart* part, ImageReader& file,
                         const std::string& path, const Duration& plan, int64_t begunUs) {
  const uint32_t first = f.dataArea.words != 0 && !s.profile.writeDataArea ? f.dataArea.words : 0;
  const std::vector<uint32_t> image = ImageWords(file, f.words);
  const SectorMap map(f, part);
  std::optional<BackupFile> backup =
      s.backup ? BackupFile::Open(s, BackupRegion::Firmware, f.base, f.words, WordOrder::Image)
               : std::nullopt;
  if (s.backup && !backup) return;
  // Until the comparison is known, the estimate given up front stands for what follows.
  const Duration cost(s.linkCost);
  const double planAfter = static_cast<double>(plan.total() - plan.PartUs("back-up"));
  BeginStep(s, backup ? "back-up" : "compare", cost.Peeks(f.words - (backup ? 0 : first)),
            planAfter + (backup ? cost.Peeks(f.words) : 0));
  // While the flash is read, what follows is projected from the share of the sectors read
  // so far that differ: the estimate given up front assumed every one does.
  std::vector<SectorState> sectors = SectorsFrom(f, map, first);
  const double readBackUs = static_cast<double>(plan.PartUs("read-back"));
  const double changeAllUs = planAfter - readBackUs + (backup ? cost.Peeks(f.words) : 0);
  double seenWords = 0, differingWords = 0;
  auto examined = [&](const SectorState& sector) {
    seenWords += sector.words();
    differingWords += sector.differs ? sector.words() : 0;
    s.host.SetTimeAfter(std::llround(readBackUs + changeAllUs * differingWords / seenWords));
  };
  if (backup) {
    size_t next = 0;
    backup->ReadAll([&](uint32_t read) {
      for (; next < sectors.size() && sectors[next].end <= f.base + 4 * read; ++next) {
        CompareHeld(f, sectors[next], image, backup->held());
        examined(sectors[next]);
      }
    });
  }
  CompareSectors(s, f, sectors, image, backup ? &backup->held() : nullptr, examined);
  const auto differing = static_cast<size_t>(
      std::count_if(sectors.begin(), sectors.end(), [](const SectorState& x) { return x.differs; }));
  // A chip erase costs one erase but writes back what already was there: the cheaper wins.
  bool chip = false;
  if (f.method == WriteMethod::ChipErase && differing != 0) {
    chip = RestOfWrite(s, f, part, sectors, image, 0, true).total() <
           RestOfWrite(s, f, part, sectors, image, 0, false).total();
  }
  // The backup's second read: what is about to change now, the rest in the read-back.
  std::vector<std::pair<uint32_t, uint32_t>> proof;
  uint32_t proofWords = 0;
  if (backup) {
    if (chip || !s.verifyAfterWrite) {
      proof.emplace_back(0, f.words);
    } else {
      if (first != 0 && s.profile.eraseDataArea) proof.emplace_back(0, first);
      for (const SectorState& sector : sectors) {
        if (sector.differs) proof.emplace_back((sector.start - f.base) / 4, sector.words());
      }
    }
    for (const auto& span : proof) proofWords += span.second;
  }
  const Duration rest = RestOfWrite(s, f, part, sectors, image, proofWords, chip);
  const std::string refined =
      differing == 0 ? "No sector differs: the flash already holds the image. Reading it back "
                       "takes " + rest.Summary() + "."
                     : std::to_string(differing) + " of " + std::to_string(sectors.size()) +
                           " sectors differ" + (chip ? ", so the whole chip is erased and written" : "") +
                           ": " + rest.Summary() + ".";
  s.host.AnnounceDuration(refined, false);
  char estimate[48];
  // For --stats, the whole command's: what it took so far and what is left.
  std::snprintf(estimate, sizeof estimate, "refined estimate: %.3f s",
                static_cast<double>(s.clock().Now() - begunUs + rest.total()) / 1e6);
  s.details.push_back(estimate);
  s.plannedUs = s.clock().Now() - begunUs + rest.total();
  s.details.push_back("sectors differing: " + std::to_string(differing) + " of " +
                      std::to_string(sectors.size()));
  if (backup) {
    BeginPart(s, rest, "back-up");
    if (!backup->Prove(proof) || !backup->Commit()) return;
  }
  const std::string saved = backup ? backup->path() : std::string();

  WriteLogScope log(s);
  if (!log.Open()) return;
  if (!chip && differing != sectors.size()) {
    log.Line("Left as they were (they hold the image): " + SpansText(sectors, false));
  }
  FirmwareWriter writer(s, file, f, part);
  writer.SetPlan(&rest);
  bool ran = false, good = false;
  const std::string restore =
      RestoreText(s, saved, "Flash > Write Firmware", "write-firmware", "Read Firmware");
  TellWhatIsLeft(s, writer, saved, [&] {
    BeginParts(s, rest, "erase", "write");
    writer.WriteSectors(sectors, image, chip);
    ran = true;
    if (!s.verifyAfterWrite) {
      good = true;
      return;
    }
    BeginPart(s, rest, "read-back");
    // The read-back is the second read of the sectors left alone: where it reads a word
    // twice the same that the backup's one read did not, the backup takes it.
    auto mend = [&](uint32_t address, uint32_t flash) {
      if (!backup || chip) return;
      for (const SectorState& sector : sectors) {
        if (address >= sector.start && address < sector.end && !sector.differs) {
          backup->Mend(address, flash);
        }
      }
    };
    good = writer.Verify(log, restore, mend);
    if (!good) s.restoreFrom = saved;
  });
  if (backup) {
    if (const std::string why = backup->SaveMended(); !why.empty()) {
      s.host.MessageBox(MessageKind::Error,
                        "The backup " + saved + " could not be corrected where the read-back "
                        "read it differently: " + why + ".",
                        Buttons::Ok);
    }
  }
  file.Close();
  if (!ran) return;  // the log says "Stopped"
  log.Finish();
  if (!good) return;
  const std::string done =
      differing == 0 ? "The flash already holds " + path + ": nothing was erased or written."
      : chip || differing == sectors.size() ? "Writing Flash completed."
             : "Writing Flash completed: " + std::to_string(differing) + " of " +
                   std::to_string(sectors.size()) +
                   " sectors written, the others already held the image.";
  s.host.MessageBox(MessageKind::Information, CompletedText(s, done, saved), Buttons::Ok);
}

}  // namespace

void WriteFirmware(Session& s) {
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;

    const FlashModel& f = FlashModelOf(s.model());
    const int64_t begun = s.clock().Now();
    // Checked before anything is erased: a short image would leave the flash half empty.
    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * f.words, "image file")) return;
    // The chips say which part they are: its sector map and its times are the write's. A
    // board written by its loader proves the link with a word of RAM instead.
    const ChipPart* part = nullptr;
    if (f.method == WriteMethod::RamLoader) {
      if (!ProveRoundTrip(s)) return;
    } else {
      part = IdentifyBeforeErasing(s, f);
      if (!part) return;
    }
    const Duration plan = Plan(s, f, part, image);
    if (!Announce(s, "Write Firmware", plan, true)) return;
    if (!s.fullWrite && f.method != WriteMethod::RamLoader && f.sectorErase != 0) {
      WriteChangedSectors(s, f, part, image, *path, plan, begun);
      return;
    }
    // Before the log: a backup that fails or is stopped leaves no sign of a write.
    const auto backup = BackUp(s, BackupRegion::Firmware, f.base, f.words, WordOrder::Image,
                               plan.AfterUs("back-up"));
    if (!backup) return;
    WriteLogScope log(s);
    if (!log.Open()) return;

    // The backup's reads measured the port: what follows is timed with that.
    const Duration measured = Plan(s, f, part, image);
    FirmwareWriter writer(s, image, f, part);
    writer.SetPlan(&measured);
    bool ran = false, good = false;
    TellWhatIsLeft(s, writer, *backup, [&] {
      if (f.method == WriteMethod::RamLoader) {
        BeginParts(s, measured, "copy to RAM", "loader");
      } else {
        BeginParts(s, measured, "erase", "write");
      }
      writer.Run();
      // Without its loader the flash was never written: the error box has said so and the
      // log has the reason before its trailer, but nothing claims completion. A failed
      // read-back is no completion either.
      ran = true;
      if (!writer.wrote()) return;
      if (s.verifyAfterWrite) BeginPart(s, measured, "read-back");
      good = !s.verifyAfterWrite ||
             writer.Verify(log, RestoreText(s, *backup, "Flash > Write Firmware", "write-firmware", "Read Firmware"));
      if (!good && writer.wrote()) s.restoreFrom = *backup;
    });
    image.Close();
    if (!ran) return;  // the log says "Stopped"
    log.Finish();
    if (!good) return;
    s.host.MessageBox(MessageKind::Information,
                      CompletedText(s, "Writing Flash completed.", *backup), Buttons::Ok);
  });
}

}  // namespace corvane
