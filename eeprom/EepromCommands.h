#pragma once
#include "target/Session.h"

namespace corvane {

void ReadEeprom(Session& session);
void WriteEeprom(Session& session);

}  // namespace corvane
