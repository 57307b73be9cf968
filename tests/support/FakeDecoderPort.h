#pragma once
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/PortIo.h"

namespace corvane::testing {

// The link's traffic as pokes, peeks and code blocks, in the order they passed.
class LinkTraffic {
 public:
  enum class Kind { Poke, Peek, Code };
  struct Transaction {
    Kind kind;
    uint32_t address;  // Code: the block's length
    uint32_t value;    // Peek: the value answered
    std::vector<uint8_t> code;
    bool operator==(const Transaction& o) const {
      return kind == o.kind && address == o.address && value == o.value && code == o.code;
    }
  };

  std::vector<Transaction> transactions;

  // Pokes and peeks only, as "poke 7FE01554 005500AA" / "peek 7FE00000 FFFFFFFF".
  std::vector<std::string> Lines() const;
  std::vector<Transaction> Pokes() const;
  size_t CountPeeksAt(uint32_t address) const;
};

// A port with an ideal adapter and boot link behind it: it decodes the handshake into
// transactions and records them, so command tests can assert exact link traffic without
// the virtual decoder's timing and memory map.
class FakeDecoderPort : public PortIo, public LinkTraffic {
 public:
  // Answers a peek; default: 0.
  std::function<uint32_t(uint32_t address)> onPeek;
  std::function<void(uint32_t address, uint32_t value)> onPoke;

  uint64_t portAccesses = 0;

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;

 private:
  void ByteFromHost(uint8_t b);
  uint8_t data_ = 0, control_ = 0x0C, ecr_ = 0x15;
  bool sendDone_ = false;
  std::vector<uint8_t> frame_;
  size_t expected_ = 0;
  std::deque<uint8_t> reply_;
};

}  // namespace corvane::testing
