#include "sim/FlashChip.h"

#include <algorithm>
#include <cctype>

namespace corvane::sim {

namespace {

constexpr uint16_t kAmd = 0x01, kSt = 0x20, kFujitsu = 0x04, kHynix = 0xAD;
constexpr uint32_t k256K = 0x40000, k512K = 0x80000, k1M = 0x100000;

// Word-mode codes, the address lines decoded in command cycles, and typical and maximum
// times from the parts' data sheets. The Fujitsu and Hynix parts are second sources of the
// AMD 5 V parts and answer with the same device codes. ST's M29W800A decodes A0-A11 in word
// mode, so 2AAh must come with A11 low; the AMD parts and the M29W800D decode A0-A10.
constexpr int kToA10 = 11, kToA11 = 12;  // lines decoded: A0 up to A10, A0 up to A11
// clang-format off
constexpr ChipType kCatalogue[] = {
  // name          maker     device  words  top    lines   program     sector erase           chip erase
  {"AM29LV800BT",  kAmd,     0x22DA, k512K, true,  kToA10, 11,  360,    700'000, 15'000'000, 11'000'000, 0},
  {"AM29LV800BB",  kAmd,     0x225B, k512K, false, kToA10, 11,  360,    700'000, 15'000'000, 11'000'000, 0},
  {"AM29F800BT",   kAmd,     0x22D6, k512K, true,  kToA10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"AM29F800BB",   kAmd,     0x2258, k512K, false, kToA10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"AM29F400BT",   kAmd,     0x2223, k256K, true,  kToA10, 12,  500,  1'000'000,  8'000'000,  8'000'000, 0},
  {"AM29F400BB",   kAmd,     0x22AB, k256K, false, kToA10, 12,  500,  1'000'000,  8'000'000,  8'000'000, 0},
  {"AM29LV160DT",  kAmd,     0x22C4, k1M,   true,  kToA10, 11,  360,    700'000, 15'000'000, 18'000'000, 0},
  {"AM29LV160DB",  kAmd,     0x2249, k1M,   false, kToA10, 11,  360,    700'000, 15'000'000, 18'000'000, 0},
  {"M29W800AT",    kSt,      0x00D7, k512K, true,  kToA11, 10,  200,  1'000'000, 10'000'000, 10'000'000, 0},
  {"M29W800AB",    kSt,      0x005B, k512K, false, kToA11, 10,  200,  1'000'000, 10'000'000, 10'000'000, 0},
  {"M29W800DT",    kSt,      0x22D7, k512K, true,  kToA10, 10,  200,    800'000,  6'000'000,  8'000'000, 30'000'000},
  {"M29W800DB",    kSt,      0x225B, k512K, false, kToA10, 10,  200,    800'000,  6'000'000,  8'000'000, 30'000'000},
  {"MBM29F800TA",  kFujitsu, 0x22D6, k512K, true,  kToA10, 16, 3600,  1'000'000, 15'000'000, 15'000'000, 0},
  {"MBM29F800BA",  kFujitsu, 0x2258, k512K, false, kToA10, 16, 3600,  1'000'000, 15'000'000, 15'000'000, 0},
  {"HY29F800T",    kHynix,   0x22D6, k512K, true,  kToA10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
  {"HY29F800B",    kHynix,   0x2258, k512K, false, kToA10, 12,  500,  1'000'000,  8'000'000, 14'000'000, 0},
};
// clang-format on

bool SameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::toupper(static_cast<unsigned char>(x)) ==
                  std::toupper(static_cast<unsigned char>(y));
         });
}

// Status bits of the embedded algorithms.
constexpr uint16_t kDq7 = 0x80, kDq6 = 0x40, kDq5 = 0x20, kDq3 = 0x08, kDq2 = 0x04;

}  // namespace

Wiring::Wiring(const std::array<uint8_t, 16>& busBitOfDq) {
  for (int v = 0; v < 256; ++v) {
    for (int i = 0; i < 8; ++i) {
      if (!(v & (1 << i))) continue;
      toBusLo_[v] |= static_cast<uint16_t>(1u << busBitOfDq[i]);
      toBusHi_[v] |= static_cast<uint16_t>(1u << busBitOfDq[i + 8]);
    }
  }
  for (int dq = 0; dq < 16; ++dq) {
    const int bit = busBitOfDq[dq];
    for (int v = 0; v < 256; ++v) {
      if (bit < 8 && (v & (1 << bit))) toChipLo_[v] |= static_cast<uint16_t>(1u << dq);
      if (bit >= 8 && (v & (1 << (bit - 8)))) toChipHi_[v] |= static_cast<uint16_t>(1u << dq);
    }
  }
}

std::span<const ChipType> ChipCatalogue() {
  return kCatalogue;
}

const ChipType* FindChipType(std::string_view name) {
  for (const ChipType& t : kCatalogue) {
    if (SameName(t.name, name)) return &t;
  }
  return nullptr;
}

std::vector<uint32_t> SectorStarts(const ChipType& type) {
  // The boot block: 8K, 4K, 4K and 16K words, then 32K-word sectors.
  std::vector<uint32_t> sizes;
  const uint32_t boot[] = {0x2000, 0x1000, 0x1000, 0x4000};
  sizes.assign(std::begin(boot), std::end(boot));
  for (uint32_t w = 0x8000; w < type.words; w += 0x8000) sizes.push_back(0x8000);
  if (type.topBoot) std::reverse(sizes.begin(), sizes.end());
  std::vector<uint32_t> starts;
  uint32_t at = 0;
  for (uint32_t s : sizes) {
    starts.push_back(at);
    at += s;
  }
  return starts;
}

int MaxErasePercent(const ChipType& type) {
  return static_cast<int>(type.sectorEraseMaxUs * 100 / type.sectorEraseUs);
}

int MaxProgramPercent(const ChipType& type) {
  return static_cast<int>(type.programMaxUs * 100 / type.programUs);
}

uint16_t MakerCode(std::string_view name) {
  if (SameName(name, "AMD")) return kAmd;
  if (SameName(name, "ST")) return kSt;
  if (SameName(name, "FUJITSU")) return kFujitsu;
  if (SameName(name, "HYNIX")) return kHynix;
  return 0;
}

FlashChip::FlashChip(const ChipType& type, ChipId id, const Wiring& wiring, uint8_t* cells,
                     uint32_t stride, uint32_t visibleWords, VirtualClock& clock)
    : type_(type),
      id_(id),
      commandMask_((1u << type.commandLines) - 1),
      wiring_(wiring),
      cells_(cells),
      stride_(stride),
      visible_(std::min(visibleWords, type.words)),
      clock_(clock),
      starts_(SectorStarts(type)),
      programUs_(type.programUs),
      sectorEraseUs_(type.sectorEraseUs),
      chipEraseUs_(type.chipEraseUs) {
  protected_.assign(starts_.size(), false);
  sectorOfBlock_.resize(type.words >> kBlockShift);
  size_t s = 0;
  for (uint32_t b = 0; b < sectorOfBlock_.size(); ++b) {
    while (s + 1 < starts_.size() && starts_[s + 1] <= (b << kBlockShift)) ++s;
    sectorOfBlock_[b] = static_cast<uint8_t>(s);
  }
}

std::array<uint32_t, 3> FlashChip::State() {
  if (mode_ == Mode::Busy) Finish();
  return {static_cast<uint32_t>(mode_), static_cast<uint32_t>(seq_), dataDq7_};
}

bool FlashChip::Restore(std::span<const uint32_t> state) {
  if (state.size() != 3 || state[0] > static_cast<uint32_t>(Mode::ProgramFailed) ||
      state[0] == static_cast<uint32_t>(Mode::Busy) ||
      state[1] > static_cast<uint32_t>(Seq::EraseUnlock2) || state[2] > 1) {
    return false;
  }
  mode_ = static_cast<Mode>(state[0]);
  seq_ = static_cast<Seq>(state[1]);
  dataDq7_ = static_cast<uint8_t>(state[2]);
  op_ = Op::Program;
  failing_ = mode_ == Mode::ProgramFailed;
  return true;
}

void FlashChip::SetProtected(uint32_t sector, bool on) {
  if (sector < protected_.size()) protected_[sector] = on;
}

void FlashChip::AddStuckBits(uint32_t word, uint16_t mask) {
  auto it = std::lower_bound(stuck_.begin(), stuck_.end(), std::make_pair(word, uint16_t{0}));
  if (it != stuck_.end() && it->first == word) {
    it->second |= mask;
  } else {
    stuck_.insert(it, {word, mask});
  }
}

void FlashChip::SetTimePercent(int erase, int program) {
  // To the nearest microsecond: the largest percent a part takes then lands on its maximum.
  const auto scaled = [](int64_t typical, int percent) { return (typical * percent + 50) / 100; };
  programUs_ = scaled(type_.programUs, program);
  sectorEraseUs_ = scaled(type_.sectorEraseUs, erase);
  // Without a chip-erase maximum, a chip erase may take as long as erasing every sector.
  chipEraseUs_ = scaled(type_.chipEraseUs, erase);
  if (type_.chipEraseMaxUs != 0) chipEraseUs_ = std::min(chipEraseUs_, type_.chipEraseMaxUs);
}

uint16_t FlashChip::StuckMask(uint32_t word) const {
  if (stuck_.empty()) return 0;
  auto it = std::lower_bound(stuck_.begin(), stuck_.end(), std::make_pair(word, uint16_t{0}));
  return it != stuck_.end() && it->first == word ? it->second : 0;
}

uint16_t FlashChip::Read(uint32_t word) {
  Settle();
  switch (mode_) {
    case Mode::Array:
      return Cell(word);
    case Mode::Autoselect:
      return wiring_.ToBus(IdWord(word));
    case Mode::Busy:
    case Mode::ProgramFailed:
      break;
  }
  return wiring_.ToBus(Status(word));
}

uint16_t FlashChip::IdWord(uint32_t word) const {
  // A1 and A0 choose the code; the sector address lines choose whose protection shows.
  switch (word & 3) {
    case 0:
      return id_.maker;
    case 1:
      return id_.device;
    case 2:
      return protected_[SectorOf(word)] ? 1 : 0;
    default:
      return 0;
  }
}

uint16_t FlashChip::Status(uint32_t word) {
  dq6_ = !dq6_;
  uint16_t s = dq6_ ? kDq6 : 0;
  if (op_ == Op::Program) {
    // Data# polling: the complement of DQ7 until the word is in; DQ2 does not toggle.
    s |= dataDq7_ ? 0 : kDq7;
    s |= kDq2;
    if (mode_ == Mode::ProgramFailed) s |= kDq5;
  } else {
    if (clock_.now() >= windowEnd_) s |= kDq3;
    if (word >= eraseFirst_ && word < eraseEnd_) dq2_ = !dq2_;
    s |= dq2_ ? kDq2 : 0;
  }
  return s;
}

void FlashChip::Write(uint32_t word, uint16_t value) {
  Settle();
  // While an embedded algorithm runs the chip takes no commands (erase suspend is not
  // modelled: the tool never suspends).
  if (mode_ == Mode::Busy) return;
  const uint16_t dq = wiring_.ToChip(value);
  const uint8_t cmd = static_cast<uint8_t>(dq);  // DQ8-DQ15 are don't-care in command cycles
  const uint32_t a = word & commandMask_;        // the lines above are don't-care
  if (mode_ == Mode::ProgramFailed) {
    if (cmd == 0xF0) Abandon();
    return;
  }
  if (seq_ == Seq::ProgramSetup) {
    seq_ = Seq::None;
    Program(word, value);
    return;
  }
  if (cmd == 0xF0) {
    Abandon();
    return;
  }
  switch (seq_) {
    case Seq::None:
      if (cmd == 0xAA && a == 0x555) {
        seq_ = Seq::Unlock1;
        return;
      }
      break;
    case Seq::Unlock1:
      if (cmd == 0x55 && a == 0x2AA) {
        seq_ = Seq::Unlock2;
        return;
      }
      break;
    case Seq::Unlock2:
      if (a != 0x555) break;
      if (cmd == 0x90) {
        seq_ = Seq::None;
        mode_ = Mode::Autoselect;
        return;
      }
      // No program or erase in identification mode: it is left only by reset.
      if (mode_ == Mode::Autoselect) break;
      if (cmd == 0xA0) {
        seq_ = Seq::ProgramSetup;
        return;
      }
      if (cmd == 0x80) {
        seq_ = Seq::EraseSetup;
        return;
      }
      break;
    case Seq::EraseSetup:
      if (cmd == 0xAA && a == 0x555) {
        seq_ = Seq::EraseUnlock1;
        return;
      }
      break;
    case Seq::EraseUnlock1:
      if (cmd == 0x55 && a == 0x2AA) {
        seq_ = Seq::EraseUnlock2;
        return;
      }
      break;
    case Seq::EraseUnlock2:
      if (cmd == 0x10 && a == 0x555) {
        seq_ = Seq::None;
        EraseChip();
        return;
      }
      if (cmd == 0x30) {
        seq_ = Seq::None;
        EraseSector(word);
        return;
      }
      break;
    case Seq::ProgramSetup:
      break;
  }
  // A wrong address or value, or a cycle out of order, ends the command sequence and sends
  // the chip back to reading the array; in autoselect mode it keeps showing the codes,
  // which only a reset ends, as the data sheets say.
  seq_ = Seq::None;
}

void FlashChip::StartBusy(Op op, int64_t us) {
  op_ = op;
  mode_ = Mode::Busy;
  busyUntil_ = clock_.now() + us;
}

void FlashChip::Finish() {
  mode_ = failing_ ? Mode::ProgramFailed : Mode::Array;
}

void FlashChip::Program(uint32_t word, uint16_t value) {
  dataDq7_ = static_cast<uint8_t>((wiring_.ToChip(value) >> 7) & 1);
  failing_ = false;
  if (protected_[SectorOf(word)]) {
    StartBusy(Op::Program, kProtectedProgramUs);
    return;
  }
  // A cell only goes from 1 to 0; a 1 over a 0, or a stuck cell, never verifies, and the
  // chip gives up with DQ5 set after its pulse limit and waits for a reset.
  const uint16_t result = static_cast<uint16_t>((Cell(word) & value) | StuckMask(word));
  SetCell(word, result);
  failing_ = result != value;
  StartBusy(Op::Program, failing_ ? programUs_ * kFailFactor : programUs_);
}

void FlashChip::Fill(uint32_t first, uint32_t end) {
  end = std::min(end, visible_);
  for (uint32_t w = first; w < end; ++w) SetCell(w, static_cast<uint16_t>(0xFFFF));
}

void FlashChip::EraseSector(uint32_t word) {
  // One sector per command: the erase starts when the window closes, so the contents are
  // final at once and reads until then show status only.
  const int s = SectorOf(word);
  const uint32_t first = starts_[s];
  const uint32_t end = s + 1 < static_cast<int>(starts_.size()) ? starts_[s + 1] : type_.words;
  failing_ = false;
  windowEnd_ = clock_.now() + kEraseWindowUs;
  if (protected_[s]) {
    eraseFirst_ = eraseEnd_ = 0;
    StartBusy(Op::Erase, kProtectedEraseUs);
    return;
  }
  Fill(first, end);
  eraseFirst_ = first;
  eraseEnd_ = end;
  StartBusy(Op::Erase, kEraseWindowUs + sectorEraseUs_);
}

void FlashChip::EraseChip() {
  failing_ = false;
  windowEnd_ = clock_.now();
  bool any = false;
  for (size_t s = 0; s < starts_.size(); ++s) {
    if (protected_[s]) continue;
    any = true;
    Fill(starts_[s], s + 1 < starts_.size() ? starts_[s + 1] : type_.words);
  }
  eraseFirst_ = 0;
  eraseEnd_ = any ? type_.words : 0;
  StartBusy(Op::Erase, any ? chipEraseUs_ : kProtectedEraseUs);
}

}  // namespace corvane::sim
