#pragma once
#include <cstdint>
#include <string>

#include "target/Session.h"

namespace corvane {

void WriteFirmware(Session& session);
void ReadFirmware(Session& session);
// Reads the flash and compares it with an image file; changes nothing.
void VerifyFirmware(Session& session);
// "3 words differ, first at 7FC00010."
std::string DiffersText(uint64_t words, uint32_t first);

}  // namespace corvane
