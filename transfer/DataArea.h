#pragma once
#include "target/Session.h"

namespace corvane {

void WriteDataArea(Session& session);
void ReadDataArea(Session& session);

}  // namespace corvane
