#include "support/TransactionTap.h"

namespace corvane::testing {

namespace {
// Control register bits as the link's shadow holds them (the register is written XOR 0x03).
constexpr uint8_t kReadStrobe = 0x01, kAckSelect = 0x02, kWriteStrobe = 0x04, kDataInput = 0x20;
constexpr uint8_t kReceiveReady = 0x08;
}  // namespace

void TransactionTap::Clear() {
  transactions.clear();
  frame_.clear();
  reply_.clear();
  expected_ = 0;
}

uint8_t TransactionTap::PortIn(uint16_t port) {
  const uint8_t value = port_->PortIn(port);
  if (port == kStatusPort) {
    status_ = value;
  } else if (port == kDataPort && (shadow_ & kReadStrobe) && (status_ & kReceiveReady)) {
    // Only a status with a byte waiting makes the strobed read a reply; the one after the
    // send handshake's status reads the lines back and carries nothing.
    status_ = 0;
    ByteFromDecoder(value);
  }
  return value;
}

void TransactionTap::PortOut(uint16_t port, uint8_t value) {
  port_->PortOut(port, value);
  if (port == kDataPort) {
    data_ = value;
  } else if (port == kControlPort) {
    const uint8_t shadow = value ^ 0x03;
    const bool strobeFell = (shadow_ & kWriteStrobe) && !(shadow & kWriteStrobe);
    shadow_ = shadow;
    // With the lines turned around nothing is latched; under Select the byte acknowledges
    // one from the decoder.
    if (strobeFell && !(shadow & (kDataInput | kAckSelect))) ByteFromHost(data_);
  }
}

uint32_t TransactionTap::Word(size_t at) const {
  return frame_[at] | uint32_t{frame_[at + 1]} << 8 | uint32_t{frame_[at + 2]} << 16 |
         uint32_t{frame_[at + 3]} << 24;
}

void TransactionTap::ByteFromHost(uint8_t b) {
  // A peek still without its answer when the host sends again never completed.
  if (!frame_.empty() && frame_.size() == expected_) frame_.clear();
  if (frame_.empty()) {
    expected_ = b == 0 ? 9 : b == 1 ? 5 : size_t{b} + 1;
    reply_.clear();
  }
  frame_.push_back(b);
  if (frame_.size() < expected_) return;
  if (frame_[0] == 0) {
    transactions.push_back({Kind::Poke, Word(1), Word(5), {}});
  } else if (frame_[0] == 1) {
    return;  // recorded with its answer
  } else {
    transactions.push_back(
        {Kind::Code, frame_[0], 0, std::vector<uint8_t>(frame_.begin() + 1, frame_.end())});
  }
  frame_.clear();
}

void TransactionTap::ByteFromDecoder(uint8_t b) {
  if (frame_.size() != 5 || frame_[0] != 1) return;  // no peek waits for its answer
  reply_.push_back(b);
  if (reply_.size() < 4) return;
  const uint32_t value =
      reply_[0] | uint32_t{reply_[1]} << 8 | uint32_t{reply_[2]} << 16 | uint32_t{reply_[3]} << 24;
  transactions.push_back({Kind::Peek, Word(1), value, {}});
  frame_.clear();
  reply_.clear();
}

}  // namespace corvane::testing
