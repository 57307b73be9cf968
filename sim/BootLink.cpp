#include "sim/BootLink.h"

#include <span>

#include "sim/VirtualDecoder.h"

namespace corvane::sim {

BootLink::Result BootLink::Take(uint8_t byte) {
  if (need_ == 0) {
    kind_ = byte;
    have_ = 0;
    need_ = byte == 0 ? 8 : byte == 1 ? 4 : byte;
    return Result::None;
  }
  buf_[have_++] = byte;
  if (have_ < need_) return Result::None;
  need_ = 0;
  return Complete();
}

std::vector<uint32_t> BootLink::State() const {
  if (need_ == 0) return {};
  std::vector<uint32_t> out = {kind_, static_cast<uint32_t>(need_)};
  out.insert(out.end(), buf_, buf_ + have_);
  return out;
}

bool BootLink::Restore(std::span<const uint32_t> state) {
  if (state.empty()) {
    Reset();
    return true;
  }
  const uint32_t kind = state[0];
  const uint32_t need = kind == 0 ? 8 : kind == 1 ? 4 : kind;
  if (kind > 0xFF || state.size() < 2 || state[1] != need || state.size() - 2 >= need) {
    return false;
  }
  for (size_t i = 2; i < state.size(); ++i) {
    if (state[i] > 0xFF) return false;
    buf_[i - 2] = static_cast<uint8_t>(state[i]);
  }
  kind_ = static_cast<uint8_t>(kind);
  need_ = static_cast<int>(need);
  have_ = static_cast<int>(state.size() - 2);
  return true;
}

BootLink::Result BootLink::Complete() {
  if (kind_ == 0) {
    ++stats_.pokes;
    decoder_.Write(U32(0), U32(4));
    return Result::None;
  }
  if (kind_ == 1) {
    ++stats_.peeks;
    reply_ = decoder_.Read(U32(0));
    return Result::Reply;
  }
  ++stats_.codeBlocks;
  const auto loader = VirtualLoader::Decode(std::span<const uint8_t>(buf_, have_));
  if (!loader || !decoder_.LoaderFits(*loader)) return Result::None;
  loader_ = *loader;
  return Result::Run;
}

}  // namespace corvane::sim
