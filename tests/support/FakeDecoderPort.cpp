#include "support/FakeDecoderPort.h"

#include "link/Text.h"

namespace corvane::testing {

uint8_t FakeDecoderPort::PortIn(uint16_t port) {
  ++portAccesses;
  switch (port) {
    case kDataPort:
      return reply_.empty() ? data_ : reply_.front();
    case kStatusPort:
      return static_cast<uint8_t>((sendDone_ ? 0x10 : 0) | (reply_.empty() ? 0 : 0x08));
    case kControlPort:
      return control_;
    case kEcrPort:
      return ecr_;
    default:
      return 0xFF;
  }
}

void FakeDecoderPort::PortOut(uint16_t port, uint8_t value) {
  ++portAccesses;
  switch (port) {
    case kDataPort:
      data_ = value;
      break;
    case kEcrPort:
      ecr_ = value;
      break;
    case kControlPort: {
      // Register bits 0 and 1 are inverted on the pins; bit 2 (nInit) is not.
      const uint8_t before = control_;
      control_ = value;
      const bool strobeWasHigh = (before ^ 0x03) & 0x01;
      const bool strobeHigh = (value ^ 0x03) & 0x01;
      if (!strobeWasHigh && strobeHigh) sendDone_ = false;  // read strobe clears Select
      const bool initFell = (before & 0x04) && !(value & 0x04);
      // In byte mode (ECR mode 001) bit 5 turns the data lines around: with the port not
      // driving them, as while LinkOpen sets up the control lines, nothing is latched.
      const bool portDrives = (ecr_ >> 5) != 1 || !(value & 0x20);
      if (initFell && portDrives) {
        const bool ackSelect = (value ^ 0x03) & 0x02;
        if (ackSelect) {
          if (!reply_.empty()) reply_.pop_front();
        } else {
          ByteFromHost(data_);
        }
      }
      break;
    }
    default:
      break;
  }
}

void FakeDecoderPort::ByteFromHost(uint8_t b) {
  sendDone_ = true;
  if (frame_.empty()) {
    expected_ = b == 0 ? 9 : b == 1 ? 5 : static_cast<size_t>(b) + 1;
  }
  frame_.push_back(b);
  if (frame_.size() < expected_) return;
  auto word = [&](size_t at) {
    return frame_[at] | (uint32_t{frame_[at + 1]} << 8) | (uint32_t{frame_[at + 2]} << 16) |
           (uint32_t{frame_[at + 3]} << 24);
  };
  if (frame_[0] == 0) {
    const uint32_t a = word(1), v = word(5);
    transactions.push_back({Kind::Poke, a, v, {}});
    if (onPoke) onPoke(a, v);
  } else if (frame_[0] == 1) {
    const uint32_t a = word(1);
    const uint32_t v = onPeek ? onPeek(a) : 0;
    transactions.push_back({Kind::Peek, a, v, {}});
    for (int i = 0; i < 4; ++i) reply_.push_back(static_cast<uint8_t>(v >> (8 * i)));
  } else {
    transactions.push_back(
        {Kind::Code, frame_[0], 0, std::vector<uint8_t>(frame_.begin() + 1, frame_.end())});
  }
  frame_.clear();
}

std::vector<std::string> LinkTraffic::Lines() const {
  std::vector<std::string> out;
  for (const Transaction& t : transactions) {
    if (t.kind == Kind::Poke) out.push_back("poke " + Hex8(t.address) + " " + Hex8(t.value));
    if (t.kind == Kind::Peek) out.push_back("peek " + Hex8(t.address) + " " + Hex8(t.value));
  }
  return out;
}

std::vector<LinkTraffic::Transaction> LinkTraffic::Pokes() const {
  std::vector<Transaction> out;
  for (const Transaction& t : transactions)
    if (t.kind == Kind::Poke) out.push_back(t);
  return out;
}

size_t LinkTraffic::CountPeeksAt(uint32_t address) const {
  size_t n = 0;
  for (const Transaction& t : transactions)
    if (t.kind == Kind::Peek && t.address == address) ++n;
  return n;
}

}  // namespace corvane::testing
