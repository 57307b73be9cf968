#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

#include "target/Session.h"

namespace corvane {

enum class RamDumpKind { Dump6071, Dump6072, BCT13, DSI185, TVNbox };

struct RamDumpRegion {
  RamDumpKind kind;
  const char* name;  // "6071", "6072", "BCT13", "DSI185", "TVNbox"
  uint32_t start;
  uint32_t words;
};
const RamDumpRegion& RamDumpRegionOf(RamDumpKind kind);
std::optional<RamDumpKind> RamDumpFromName(std::string_view name);

void RamDump(Session& session, RamDumpKind kind);
// The same routine over any region (the table's rows, or a small one in tests).
void RamDump(Session& session, const RamDumpRegion& region);

}  // namespace corvane
