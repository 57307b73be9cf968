#pragma once
#include "target/Session.h"

namespace corvane {

// Saves one of the Ram menu's regions (a model's row names them) to a file.
void RamDump(Session& session, const RamRegion& region);

}  // namespace corvane
