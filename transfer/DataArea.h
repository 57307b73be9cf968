#pragma once
#include "target/Session.h"

namespace corvane {

void WriteDataArea(Session& session);
void ReadDataArea(Session& session);
// Whether the commands have anything to move for the model: the window's menu offers them
// for more models than have a loader or a region.
bool WriteDataAreaOffered(Model model);
bool ReadDataAreaOffered(Model model);

}  // namespace corvane
