#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "target/Session.h"
#include "transfer/RegionRead.h"

namespace corvane {

// Before a write, when the session asks for it: saves what the write will overwrite, as the
// matching read command saves it, so that the write command can put it back. The backup's
// path; empty when none was asked for; nothing after one message, when the backup failed
// or was stopped (nothing has been erased then).
std::optional<std::string> BackUp(Session& session, uint32_t start, uint32_t words,
                                  WordOrder order);

}  // namespace corvane
