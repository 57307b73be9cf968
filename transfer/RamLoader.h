#pragma once
#include <cstdint>
#include <string>

#include "target/Session.h"
#include "transfer/ImageFile.h"

namespace corvane {

// Pokes `words` image words into RAM from `base` up, in RAM value form.
void CopyImageToRam(Session& session, ImageReader& image, uint32_t base, uint32_t words);
// Sends the loader file from the session's loader folder and waits for it. False (after
// "Error opening TRAP.BIN !") when the file is missing or not 2 to 255 bytes long.
bool UploadTrapRoutine(Session& session, const std::string& loaderName, int waitMs,
                       const std::string& waitText);

}  // namespace corvane
