#pragma once
#include "target/Session.h"

namespace corvane {

void WriteFirmware(Session& session);
void ReadFirmware(Session& session);
// Reads the flash and compares it with an image file; changes nothing.
void VerifyFirmware(Session& session);

}  // namespace corvane
