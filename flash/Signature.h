#pragma once
#include <cstdint>
#include <string>

#include "target/Session.h"

namespace corvane {

// "Manufacturer: X\nDevice: Y" for the words read in autoselect mode.
std::string SignatureMessage(Model model, uint32_t manufacturer, uint32_t device);
// The Read Signature command.
void ReadSignature(Session& session);

}  // namespace corvane
