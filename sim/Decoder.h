#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "sim/BusDevice.h"
#include "sim/DecoderModels.h"
#include "sim/Eeprom24.h"
#include "sim/SparseRam.h"
#include "sim/VcdWriter.h"
#include "sim/VirtualClock.h"
#include "sim/VirtualLoader.h"

namespace corvane::sim {

// The decoder's bus as its CPU sees it: on-chip memory-interface and PIO registers, and
// external RAM, flash and data area, which answer only once the memory interface has been
// set up exactly as the board needs since the last reset.
class Decoder {
 public:
  struct Parts {
    const DecoderModel* model;
    uint32_t flashBase, flashSize;
    uint32_t mirrorBase, mirrorSize;  // where the flash chip select also answers; 0: nowhere
    BusDevice* flash;                 // the board
    std::vector<uint8_t>* flashImage;  // flash.bin, bytes in address order
    std::vector<uint8_t>* dataArea;    // data.bin; empty when the model has none
    Eeprom24* eeprom;                  // null: no device on the bus
    VirtualClock* clock;
  };
  explicit Decoder(const Parts& parts);

  uint32_t Read(uint32_t address);
  void Write(uint32_t address, uint32_t value);
  // The stored contents, without side effects and without the set-up gate.
  uint32_t Inspect(uint32_t address) const;

  // The CPU's reset: the memory interface forgets its set-up, the PIO its pins.
  void Reset();
  // The on-chip registers and the set-up's progress, which a powered decoder keeps between
  // runs of the program, and taking them back; false when the words do not fit.
  std::vector<uint32_t> State() const;
  bool Restore(std::span<const uint32_t> state);

  bool externalOpen() const { return external_; }
  // Whether a loader with these parameters can do its work on this board now.
  bool LoaderFits(const VirtualLoader& loader) const;
  void RunLoader(const VirtualLoader& loader);

  SparseRam& ram() { return ram_; }
  const SparseRam& ram() const { return ram_; }
  void SetTrace(VcdWriter* trace);

 private:
  bool IsOnChip(uint32_t a) const;
  uint32_t ReadOnChip(uint32_t a) const;
  void WriteOnChip(uint32_t a, uint32_t value);
  void MemoryInterfaceWrite(uint32_t* reg, uint32_t a, uint32_t value);
  void DriveEeprom();
  bool SdaWire() const;
  // flash address (mirror folded) or ~0u
  uint32_t FlashAddress(uint32_t a) const {
    if (a - flashBase_ < flashSize_) return a;
    if (a - mirrorBase_ < mirrorSize_) return flashBase_ + (a - mirrorBase_) % flashSize_;
    return ~0u;
  }
  bool InDataArea(uint32_t a) const { return a - model_.dataBase < model_.dataSize; }

  const DecoderModel& model_;
  uint32_t flashBase_, flashSize_;
  uint32_t mirrorBase_, mirrorSize_;
  BusDevice* flash_;
  std::vector<uint8_t>& flashImage_;
  std::vector<uint8_t>& dataArea_;
  Eeprom24* eeprom_;
  VirtualClock& clock_;
  VcdWriter* trace_ = nullptr;
  int eepromPio_;  // which of kPioBases carries the EEPROM

  SparseRam ram_;
  uint32_t miBlock_[(kMiBlockEnd - kMiBlockBase) / 4] = {};
  uint32_t miWindow_[(kMiWindowEnd - kMiWindowBase) / 4] = {};
  struct Pio {
    uint32_t output = 0x07;  // out of reset the pins are released: both lines high
    uint32_t mode = 0;
  } pio_[2];

  // Set-up progress: how many writes matched, and which accepted lists still match.
  size_t setupIndex_ = 0;
  uint32_t setupAlive_ = 0;
  bool external_ = false;
};

}  // namespace corvane::sim
