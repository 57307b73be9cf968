#pragma once
#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "sim/VirtualClock.h"

namespace corvane::sim {

// How a chip's sixteen data lines meet its half of the bus: DQi is bus bit busBitOfDq[i].
class Wiring {
 public:
  explicit Wiring(const std::array<uint8_t, 16>& busBitOfDq);
  // What the bus sees while the chip drives dq.
  uint16_t ToBus(uint16_t dq) const {
    return static_cast<uint16_t>(toBusLo_[dq & 0xFF] | toBusHi_[dq >> 8]);
  }
  // What the chip sees while the bus drives value.
  uint16_t ToChip(uint16_t value) const {
    return static_cast<uint16_t>(toChipLo_[value & 0xFF] | toChipHi_[value >> 8]);
  }

 private:
  std::array<uint16_t, 256> toBusLo_{}, toBusHi_{}, toChipLo_{}, toChipHi_{};
};

// One NOR part of the AMD command set, word mode, as its data sheet gives it. The chips
// take the typical times unless decoder.conf asks for a slower or faster part; the maxima
// bound how slow it may be. 0: the data sheet gives no maximum.
struct ChipType {
  const char* name;
  uint16_t maker;    // manufacturer code (autoselect word 0)
  uint16_t device;   // device code (autoselect word 1)
  uint32_t words;    // 16-bit words
  bool topBoot;      // small sectors at the top instead of the bottom
  int commandLines;  // A0 up to A(commandLines - 1) are decoded in command cycles
  // A word program, a sector erase and a chip erase, typical and maximum.
  int64_t programUs, programMaxUs;
  int64_t sectorEraseUs, sectorEraseMaxUs;
  int64_t chipEraseUs, chipEraseMaxUs;
};

std::span<const ChipType> ChipCatalogue();
// Case-insensitive; null when the catalogue has no such part.
const ChipType* FindChipType(std::string_view name);
// First word of every sector, ascending.
std::vector<uint32_t> SectorStarts(const ChipType& type);

// How slow a part may be, in percent of its typical times: the most that still keeps a
// sector erase, or a word program, within the part's maximum.
inline constexpr int kMinTimePercent = 10;
int MaxErasePercent(const ChipType& type);
int MaxProgramPercent(const ChipType& type);

// What a chip answers in autoselect mode: word 0 and word 1, on its own data lines.
struct ChipId {
  uint16_t maker;
  uint16_t device;
};

// Manufacturer codes by name: AMD, ST, FUJITSU, HYNIX (case-insensitive); 0 when unknown.
uint16_t MakerCode(std::string_view name);

// One 16-bit flash device. Its cells live in memory the caller owns, already in the form
// the bus reads them (cell n = little-endian 16 bits at cells + n * stride), so reading the
// array needs no translation; commands and status pass through the wiring.
class FlashChip {
 public:
  // visibleWords: the words the board's address lines reach (at most type.words).
  FlashChip(const ChipType& type, ChipId id, const Wiring& wiring, uint8_t* cells, uint32_t stride,
            uint32_t visibleWords, VirtualClock& clock);

  // Bus side of a read or write of word n (bus form).
  uint16_t Read(uint32_t word);
  void Write(uint32_t word, uint16_t value);
  // True when a read would return the array as it stands (no status, no IDs).
  bool ReadsArray() {
    Settle();
    return mode_ == Mode::Array;
  }
  // Bring a finished embedded operation to its end at the clock's time.
  void Settle() {
    if (mode_ == Mode::Busy && clock_.now() >= busyUntil_) Finish();
  }

  // The command state a powered chip keeps: an embedded operation still running is taken
  // to its end, as it would be by the time anyone looks again.
  std::array<uint32_t, 3> State();
  bool Restore(std::span<const uint32_t> state);

  // Sector protection is set with a programmer, not over the bus.
  void SetProtected(uint32_t sector, bool on);
  // Bits (bus form) of word n that never program: they stay 1.
  void AddStuckBits(uint32_t word, uint16_t mask);
  // Erase and program times in percent of the part's typical ones (100 until set). A chip
  // erase stops at the part's maximum where it gives one.
  void SetTimePercent(int erase, int program);

  int SectorOf(uint32_t word) const { return sectorOfBlock_[word >> kBlockShift]; }
  const std::vector<uint32_t>& sectorStarts() const { return starts_; }
  const ChipType& type() const { return type_; }
  // The cells may move when the owner's storage is reallocated.
  void Rebind(uint8_t* cells) { cells_ = cells; }

  // Data-sheet figures for what has no catalogue column.
  static constexpr int64_t kEraseWindowUs = 50;      // sector-erase time-out before erasing
  static constexpr int64_t kProtectedProgramUs = 2;  // a program of a protected word gives up
  static constexpr int64_t kProtectedEraseUs = 100;  // an erase with only protected sectors
  static constexpr int kFailFactor = 20;             // pulses before DQ5 reports a failure

 private:
  enum class Mode : uint8_t { Array, Autoselect, Busy, ProgramFailed };
  enum class Seq : uint8_t {
    None,
    Unlock1,
    Unlock2,
    ProgramSetup,
    EraseSetup,
    EraseUnlock1,
    EraseUnlock2
  };
  enum class Op : uint8_t { Program, Erase };
  static constexpr int kBlockShift = 12;  // the smallest sector is 4K words

  uint16_t Cell(uint32_t word) const {
    const uint8_t* p = cells_ + static_cast<size_t>(word) * stride_;
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
  }
  void SetCell(uint32_t word, uint16_t v) {
    uint8_t* p = cells_ + static_cast<size_t>(word) * stride_;
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
  }
  uint16_t StuckMask(uint32_t word) const;
  uint16_t IdWord(uint32_t word) const;
  uint16_t Status(uint32_t word);
  void Program(uint32_t word, uint16_t value);
  void EraseSector(uint32_t word);
  void EraseChip();
  void Fill(uint32_t first, uint32_t end);
  void StartBusy(Op op, int64_t us);
  void Finish();
  void Abandon() {
    seq_ = Seq::None;
    mode_ = Mode::Array;
  }

  const ChipType& type_;
  const ChipId id_;
  const uint32_t commandMask_;
  const Wiring& wiring_;
  uint8_t* cells_;
  const uint32_t stride_;
  const uint32_t visible_;
  VirtualClock& clock_;

  std::vector<uint32_t> starts_;
  std::vector<uint8_t> sectorOfBlock_;
  std::vector<bool> protected_;
  std::vector<std::pair<uint32_t, uint16_t>> stuck_;  // sorted by word

  Mode mode_ = Mode::Array;
  Seq seq_ = Seq::None;
  Op op_ = Op::Program;
  bool failing_ = false;
  bool dq6_ = false, dq2_ = false;
  uint8_t dataDq7_ = 0;  // DQ7 of the word being programmed, as the chip saw it
  int64_t busyUntil_ = 0;
  int64_t windowEnd_ = 0;                   // DQ3 rises when the sector-erase window closes
  uint32_t eraseFirst_ = 0, eraseEnd_ = 0;  // words whose reads toggle DQ2
  int64_t programUs_, sectorEraseUs_, chipEraseUs_;
};

}  // namespace corvane::sim
