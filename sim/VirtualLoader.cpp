#include "sim/VirtualLoader.h"

namespace corvane::sim {

namespace {
constexpr uint8_t kMagic[4] = {'C', 'V', 'L', '1'};

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<uint8_t>(v >> shift));
}

uint32_t GetU32(std::span<const uint8_t> b, size_t at) {
  return b[at] | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) |
         (uint32_t{b[at + 3]} << 24);
}
}  // namespace

std::vector<uint8_t> VirtualLoader::Encode() const {
  std::vector<uint8_t> out(kMagic, kMagic + 4);
  out.push_back(operation);
  PutU32(out, ramBase);
  PutU32(out, destination);
  PutU32(out, words);
  return out;
}

std::optional<VirtualLoader> VirtualLoader::Decode(std::span<const uint8_t> block) {
  if (block.size() < kLoaderSize || block.size() > 255) return std::nullopt;
  for (int i = 0; i < 4; ++i) {
    if (block[i] != kMagic[i]) return std::nullopt;
  }
  VirtualLoader l;
  l.operation = block[4];
  if (l.operation != kLoaderToFlash && l.operation != kLoaderToDataArea) return std::nullopt;
  l.ramBase = GetU32(block, 5);
  l.destination = GetU32(block, 9);
  l.words = GetU32(block, 13);
  return l;
}

}  // namespace corvane::sim
