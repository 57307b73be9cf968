#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/PortIo.h"
#include "support/FakeDecoderPort.h"

namespace corvane::testing {

// Sits between the link and a port, passes every access on unchanged and reads the host's
// side of the adapter handshake into transactions: a command on the virtual decoder can
// then be held to its exact link traffic, with the decoder's own answers in the peeks.
class TransactionTap : public PortIo, public LinkTraffic {
 public:
  explicit TransactionTap(PortIo& port) : port_(&port) {}
  // Another port behind the tap (a decoder opened again); what was recorded stays.
  void Rebind(PortIo& port) { port_ = &port; }
  // Forgets the transactions and any frame half seen; the lines' state is kept.
  void Clear();

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;
  bool Claim(std::string* error) override { return port_->Claim(error); }
  void Release() override { port_->Release(); }
  std::optional<bool> ReadsData(std::string* why) override { return port_->ReadsData(why); }
  std::optional<std::string> Modes() override { return port_->Modes(); }

 private:
  void ByteFromHost(uint8_t b);
  void ByteFromDecoder(uint8_t b);
  uint32_t Word(size_t at) const;

  PortIo* port_;
  uint8_t data_ = 0, shadow_ = 0, status_ = 0;
  std::vector<uint8_t> frame_;  // from the host: command byte, address, value or code
  size_t expected_ = 0;
  std::vector<uint8_t> reply_;  // the decoder's bytes of a peek's answer
};

}  // namespace corvane::testing
