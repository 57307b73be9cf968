#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "link/PortIo.h"
#include "sim/VirtualClock.h"

namespace corvane::sim {

struct Stats {
  uint64_t portAccesses = 0;
  uint64_t pokes = 0;
  uint64_t peeks = 0;
  uint64_t codeBlocks = 0;
  int64_t virtualTimeUs = 0;  // what the same traffic takes on real hardware
};

class DecoderImpl;

// One virtual decoder behind a virtual parallel port and adapter cable, kept in
// DIR/<model folder>/. It is the hardware we do not have: it answers only what the real
// one would.
class VirtualDecoder final : public corvane::PortIo {
 public:
  // Opens (creating with defaults when missing) the decoder of the model with this caption
  // ("DSX6071/6072", "TVN box", ...) under dir. Null with *error set when it cannot.
  static std::unique_ptr<VirtualDecoder> Open(const std::string& dir, const std::string& caption,
                                              std::string* error);
  ~VirtualDecoder() override;

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;
  // What decoder.conf says of the port; no port access, no virtual time.
  std::optional<bool> ReadsData(std::string* why) override;

  corvane::Clock& clock();
  const Stats& stats() const;
  void ResetStats();

  // Writes changed memories back (flash.bin, data.bin, eeprom.bin, ram.bin).
  bool Save(std::string* error = nullptr);
  // Whether flash.bin, data.bin, eeprom.bin, ram.bin, decoder.state or decoder.conf was
  // written, replaced, made or removed by someone else since this decoder opened or last
  // saved it: its memory is then a stale copy, to be opened again before the next command.
  bool ChangedOnDisk() const;
  // DIR/<model folder>, where its loaders and files live.
  const std::string& directory() const;
  // Records the EEPROM's SCL and SDA lines as a VCD file from now on.
  bool SetBusTrace(const std::string& path, std::string* error = nullptr);
  // True while the port is not in the link's byte mode (the tool has let go of it).
  bool PortReleased() const;

  // Direct looks at the hardware for tests and benches; they cost no virtual time.
  uint32_t InspectWord(uint32_t address);
  DecoderImpl& impl() { return *impl_; }

 private:
  explicit VirtualDecoder(std::unique_ptr<DecoderImpl> impl);
  std::unique_ptr<DecoderImpl> impl_;
};

}  // namespace corvane::sim
