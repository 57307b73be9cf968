#pragma once
#include <memory>
#include <string>
#include <vector>

#include "sim/BootLink.h"
#include "sim/BusDevice.h"
#include "sim/Decoder.h"
#include "sim/DecoderDir.h"
#include "sim/Eeprom24.h"
#include "sim/FlashBoard.h"
#include "sim/VcdWriter.h"
#include "sim/VirtualClock.h"
#include "sim/VirtualDecoder.h"
#include "sim/VirtualPort.h"

namespace corvane::sim {

// Everything behind one VirtualDecoder, wired together once.
class DecoderImpl {
 public:
  DecoderImpl(const DecoderModel& model, const FlashBoardGeometry& flash, DecoderFiles files)
      : model_(model), flash_(flash), files_(std::move(files)) {}

  // Second step of construction: the parts that hold references into files_.
  bool Build(std::string* error);

  const DecoderModel& model() const { return model_; }
  VirtualClock& clock() { return clock_; }
  Stats& stats() { return stats_; }
  VirtualPort& port() { return *port_; }
  Decoder& decoder() { return *decoder_; }
  const DecoderFiles& files() const { return files_; }
  int64_t statsStart = 0;

  bool Save(std::string* error);
  // Whether a file this decoder read or wrote is no longer as it left it.
  bool ChangedOnDisk() const;
  bool SetBusTrace(const std::string& path, std::string* error);

 private:
  bool SaveImage(const char* name, const std::vector<uint8_t>& now, std::vector<uint8_t>& saved,
                 std::string* error);
  // decoder.state: what the decoder keeps while it stays switched on between runs.
  bool LoadState(std::string* error);
  bool SaveState(std::string* error);

  const DecoderModel& model_;
  const FlashBoardGeometry& flash_;
  DecoderFiles files_;
  std::vector<uint8_t> savedFlash_, savedData_, savedEeprom_;
  std::string savedState_;

  VirtualClock clock_;
  Stats stats_;
  std::unique_ptr<BusDevice> board_;
  std::unique_ptr<Eeprom24> eeprom_;
  std::unique_ptr<VcdWriter> trace_;
  std::unique_ptr<Decoder> decoder_;
  std::unique_ptr<BootLink> link_;
  std::unique_ptr<VirtualPort> port_;
};

}  // namespace corvane::sim
