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
