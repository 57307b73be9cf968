#pragma once
#include "target/Session.h"

namespace corvane {

void WriteFirmware(Session& session);
void ReadFirmware(Session& session);

}  // namespace corvane
