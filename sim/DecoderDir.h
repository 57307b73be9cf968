#pragma once
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/Conf.h"
#include "sim/DecoderModels.h"
#include "sim/Eeprom24.h"

namespace corvane::sim {

// What decoder.conf sets for the port, the link and the EEPROM (the flash board reads its
// own keys).
struct DecoderSettings {
  int64_t portAccessUs = 1;
  int64_t linkByteUs = 3;
  int64_t deadAfterBytes = 0;
  int64_t loaderSeconds = 3;
  bool eepromPresent = true;
  int64_t eepromBusyMs = 5;
  WriteProtect eepromWriteProtect = WriteProtect::Off;
  int64_t eepromNeverReady = 0;
  int64_t eepromAcks = 0;
  int64_t flipBitsEvery = 0;
  bool cablePlugged = true;
  int64_t unplugAfterBytes = 0;
  bool bidirectional = true;  // the port can turn its data lines to input
};

// DIR/<model folder>/ and its files as they were opened.
struct DecoderFiles {
  std::string directory;
  Conf conf;
  DecoderSettings settings;
  std::vector<uint8_t> flash, data, eeprom;
  std::vector<uint8_t> ram;  // ram.bin as stored; empty when absent
  bool created = false;      // the decoder was made now (its folder held no flash.bin)
};

// The commented decoder.conf a new directory gets.
std::string DefaultDecoderConf(const DecoderModel& model);

bool ReadSettings(const Conf& conf, const std::string& flashDefaults, DecoderSettings* out,
                  std::string* error);

// Opens DIR/<folder>, creating what is missing: the folder with its loader files, an erased
// flash.bin, data.bin and eeprom.bin, and a documented decoder.conf. A file of the wrong
// size or a conf that does not parse fails with *error naming the file.
bool OpenDecoderDir(const std::string& dir, const DecoderModel& model, uint32_t flashSize,
                    DecoderFiles* out, std::string* error);

// Writes the whole file under a temporary name in the same folder, then renames it over.
// durable: flushed to the disk before the rename, so a crash leaves the old or the new file.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error, bool durable = true);

}  // namespace corvane::sim
