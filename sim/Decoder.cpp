#include "sim/Decoder.h"

#include <cstring>

namespace corvane::sim {

namespace {
uint32_t LoadLe(const uint8_t* p) {
  return p[0] | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
}  // namespace

Decoder::Decoder(const Parts& parts)
    : model_(*parts.model),
      flashBase_(parts.flashBase),
      flashSize_(parts.flashSize),
      mirrorBase_(parts.mirrorBase),
      mirrorSize_(parts.mirrorSize),
      flash_(parts.flash),
      flashImage_(*parts.flashImage),
      dataArea_(*parts.dataArea),
      eeprom_(parts.eeprom),
      clock_(*parts.clock),
      eepromPio_(parts.model->pioBase == kPioBases[1] ? 1 : 0),
      ram_(parts.model->ram) {
  Reset();
}

void Decoder::Reset() {
  std::memset(miBlock_, 0, sizeof miBlock_);
  std::memset(miWindow_, 0, sizeof miWindow_);
  setupIndex_ = 0;
  setupAlive_ = (1u << model_.setups.size()) - 1;
  external_ = false;
  for (Pio& p : pio_) p = Pio{};
  DriveEeprom();
}

std::vector<uint32_t> Decoder::State() const {
  std::vector<uint32_t> out = {external_ ? 1u : 0u, static_cast<uint32_t>(setupIndex_),
                               setupAlive_};
  out.insert(out.end(), std::begin(miBlock_), std::end(miBlock_));
  out.insert(out.end(), std::begin(miWindow_), std::end(miWindow_));
  for (const Pio& p : pio_) {
    out.push_back(p.output);
    out.push_back(p.mode);
  }
  return out;
}

bool Decoder::Restore(std::span<const uint32_t> state) {
  constexpr size_t kBlock = sizeof miBlock_ / sizeof miBlock_[0];
  constexpr size_t kWindow = sizeof miWindow_ / sizeof miWindow_[0];
  if (state.size() != 3 + kBlock + kWindow + 4 || state[0] > 1) return false;
  size_t at = 0;
  external_ = state[at++] == 1;
  setupIndex_ = state[at++];
  setupAlive_ = state[at++];
  for (uint32_t& r : miBlock_) r = state[at++];
  for (uint32_t& r : miWindow_) r = state[at++];
  for (Pio& p : pio_) {
    p.output = state[at++];
    p.mode = state[at++];
  }
  DriveEeprom();
  return true;
}

void Decoder::SetTrace(VcdWriter* trace) {
  trace_ = trace;
  if (trace_) trace_->Change(clock_.now(), (pio_[eepromPio_].output & 4) != 0, SdaWire());
}

bool Decoder::IsOnChip(uint32_t a) const {
  if (a - kMiBlockBase < kMiBlockEnd - kMiBlockBase) return true;
  if (a - kMiWindowBase < kMiWindowEnd - kMiWindowBase) return true;
  for (uint32_t base : kPioBases) {
    if (a - base < kPioSpan) return true;
  }
  return false;
}

bool Decoder::SdaWire() const {
  const bool master = (pio_[eepromPio_].output & 3) == 3;
  return master && (!eeprom_ || eeprom_->SdaReleased());
}

void Decoder::DriveEeprom() {
  const uint32_t out = pio_[eepromPio_].output;
  const bool scl = (out & 4) != 0;
  if (eeprom_) eeprom_->Drive(scl, (out & 3) == 3);
  if (trace_) trace_->Change(clock_.now(), scl, SdaWire());
}

uint32_t Decoder::ReadOnChip(uint32_t a) const {
  if (a - kMiBlockBase < kMiBlockEnd - kMiBlockBase) return miBlock_[(a - kMiBlockBase) / 4];
  if (a - kMiWindowBase < kMiWindowEnd - kMiWindowBase) return miWindow_[(a - kMiWindowBase) / 4];
  for (int i = 0; i < 2; ++i) {
    const uint32_t offset = a - kPioBases[i];
    if (offset >= kPioSpan) continue;
    const Pio& p = pio_[i];
    if (offset == kPioOutput) return p.output;
    if (offset == kPioMode) return p.mode;
    if (offset == kPioInput) {
      // Pins 0 and 1 are both tied to SDA, pin 2 is SCL; a pin reads the wire.
      const bool sda = i == eepromPio_ ? SdaWire() : (p.output & 3) == 3;
      const bool scl = (p.output & 4) != 0;
      return (sda ? 3u : 0u) | (scl ? 4u : 0u);
    }
  }
  return 0;
}

void Decoder::WriteOnChip(uint32_t a, uint32_t value) {
  if (a - kMiBlockBase < kMiBlockEnd - kMiBlockBase) {
    MemoryInterfaceWrite(&miBlock_[(a - kMiBlockBase) / 4], a, value);
    return;
  }
  if (a - kMiWindowBase < kMiWindowEnd - kMiWindowBase) {
    MemoryInterfaceWrite(&miWindow_[(a - kMiWindowBase) / 4], a, value);
    return;
  }
  for (int i = 0; i < 2; ++i) {
    const uint32_t offset = a - kPioBases[i];
    if (offset >= kPioSpan) continue;
    if (offset == kPioOutput) {
      pio_[i].output = value;
      if (i == eepromPio_) DriveEeprom();
    } else if (offset == kPioMode) {
      pio_[i].mode = value;
    }
    return;
  }
}

void Decoder::MemoryInterfaceWrite(uint32_t* reg, uint32_t a, uint32_t value) {
  const uint32_t before = *reg;
  *reg = value;
  if (setupAlive_ == 0) {
    external_ = false;  // spoiled until the next reset
    return;
  }
  uint32_t alive = 0;
  bool complete = false;
  for (size_t k = 0; k < model_.setups.size(); ++k) {
    if (!(setupAlive_ & (1u << k))) continue;
    const auto& list = model_.setups[k];
    if (setupIndex_ < list.size() && list[setupIndex_].address == a &&
        list[setupIndex_].value == value) {
      alive |= 1u << k;
      if (setupIndex_ + 1 == list.size()) complete = true;
    }
  }
  if (external_ && alive == 0) {
    // Set up already: the same value again changes nothing; anything else breaks the
    // timing the board needs.
    if (value == before) return;
    external_ = false;
    setupAlive_ = 0;
    return;
  }
  setupAlive_ = alive;
  ++setupIndex_;
  if (complete) {
    // The set-up holds; a new run of the same list may follow and keeps it.
    external_ = true;
    setupIndex_ = 0;
    setupAlive_ = (1u << model_.setups.size()) - 1;
  }
}

uint32_t Decoder::Read(uint32_t address) {
  const uint32_t a = address & ~3u;  // a word access ignores the byte lanes
  if (IsOnChip(a)) return ReadOnChip(a);
  if (!external_) return 0;
  if (const uint32_t f = FlashAddress(a); f != ~0u) return flash_->Read(f);
  if (InDataArea(a)) return LoadLe(dataArea_.data() + (a - model_.dataBase));
  if (ram_.Contains(a)) return ram_.Read(a);
  return 0;
}

void Decoder::Write(uint32_t address, uint32_t value) {
  const uint32_t a = address & ~3u;
  if (IsOnChip(a)) {
    WriteOnChip(a, value);
    return;
  }
  if (!external_) return;
  if (const uint32_t f = FlashAddress(a); f != ~0u) {
    flash_->Write(f, value);
    return;
  }
  if (InDataArea(a)) return;  // read-only on the bus: only a loader writes it
  if (ram_.Contains(a)) ram_.Write(a, value);
}

uint32_t Decoder::Inspect(uint32_t address) const {
  const uint32_t a = address & ~3u;
  if (IsOnChip(a)) return ReadOnChip(a);
  if (const uint32_t f = FlashAddress(a); f != ~0u) return LoadLe(flashImage_.data() + (f - flashBase_));
  if (InDataArea(a)) return LoadLe(dataArea_.data() + (a - model_.dataBase));
  return ram_.Read(a);
}

bool Decoder::LoaderFits(const VirtualLoader& l) const {
  if (!external_ || l.words == 0) return false;
  const uint64_t bytes = uint64_t{l.words} * 4;
  if (l.ramBase % 4 != 0 || !ram_.Covers(l.ramBase, bytes)) return false;
  if (l.destination % 4 != 0) return false;
  if (l.operation == kLoaderToFlash) {
    return l.destination >= flashBase_ &&
           uint64_t{l.destination - flashBase_} + bytes <= flashSize_;
  }
  if (l.operation == kLoaderToDataArea) {
    return model_.dataSize != 0 && l.destination >= model_.dataBase &&
           uint64_t{l.destination - model_.dataBase} + bytes <= model_.dataSize;
  }
  return false;
}

void Decoder::RunLoader(const VirtualLoader& l) {
  const size_t bytes = size_t{l.words} * 4;
  uint8_t* out = l.operation == kLoaderToFlash
                     ? flashImage_.data() + (l.destination - flashBase_)
                     : dataArea_.data() + (l.destination - model_.dataBase);
  ram_.CopyOut(l.ramBase, out, bytes);
}

}  // namespace corvane::sim
