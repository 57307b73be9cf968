#pragma once
#include <optional>
#include <string>
#include <vector>

#include "target/Session.h"

namespace corvane {

// A whole decoder in one folder: what a service can change (the firmware, the data area
// where a loader writes one, the EEPROM), each file named in decoder.json with its size and
// SHA-256, the model, its options and what the flash chips answered.
struct DecoderFile {
  std::string name;    // "firmware.bin", "data-area.bin", "eeprom.bin"
  uint64_t bytes = 0;
  std::string sha256;  // 64 lowercase hex digits
};

struct DecoderManifest {
  std::string version;    // Corvane's, when saved
  std::string saved;      // UTC, ISO 8601
  std::string model;      // the model's caption
  bool reloaded = false;  // BCT13's Reloaded set-up
  std::string signature;  // what Read Signature said; empty where the model has none
  std::vector<DecoderFile> files;
};

inline constexpr const char* kManifestName = "decoder.json";

std::string ManifestText(const DecoderManifest& manifest);
// Nothing, with *error saying what is wrong, unless the text is such a manifest.
std::optional<DecoderManifest> ParseManifest(const std::string& text, std::string* error);

// Reads the decoder into a new folder (the dialog's path); the folder appears only once
// every file and the manifest are written.
void SaveDecoder(Session& session);
// Checks the folder (the dialog's path, or its decoder.json) against its manifest and the
// connected decoder, then writes back what differs from the files and verifies it. Nothing
// is written when a file is missing or changed, or the decoder is another model or has
// other chips.
void RestoreDecoder(Session& session);

}  // namespace corvane
