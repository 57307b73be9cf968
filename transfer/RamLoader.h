#pragma once
#include <cstdint>
#include <string>

#include "target/Session.h"
#include "target/Files.h"

namespace corvane {

// Pokes `words` image words into RAM from `base` up, in RAM value form.
void CopyImageToRam(Session& session, ImageReader& image, uint32_t base, uint32_t words);
// Sends the loader file from the session's loader folder, waits its time, then until the
// decoder answers again. False (after "Error opening TRAP.BIN !") when the file is missing
// or not 2 to 255 bytes long; a TransferError when the decoder stays silent.
bool UploadTrapRoutine(Session& session, const std::string& loaderName, int waitMs,
                       const std::string& waitText);
// After a loader's fixed wait of waitMs: returns once the decoder answers, or stops the
// transfer when it has not within a bounded time.
void WaitForDecoder(Session& session, const std::string& loaderName, int waitMs);

}  // namespace corvane
