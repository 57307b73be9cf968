#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "link/PortIo.h"

namespace corvane {

// Passes every access on to the inner port and writes one line for it to a file:
// "out 37A 2F", "in 379 18" (upper-case hex, port 3 digits, value 2 digits). --trace FILE.
class TracePortIo final : public PortIo {
 public:
  // Null with *error (a sentence naming the file) when the file cannot be created.
  // The first form leaves `inner` with the caller; the second owns it.
  static std::unique_ptr<TracePortIo> Create(PortIo& inner, const std::string& path,
                                             std::string* error);
  static std::unique_ptr<TracePortIo> Create(std::unique_ptr<PortIo> inner,
                                             const std::string& path, std::string* error);
  // Flushes and closes the file.
  ~TracePortIo() override;
  TracePortIo(const TracePortIo&) = delete;
  TracePortIo& operator=(const TracePortIo&) = delete;

  uint8_t PortIn(uint16_t port) override;
  void PortOut(uint16_t port, uint8_t value) override;
  bool Claim(std::string* error) override { return inner_->Claim(error); }
  void Release() override { inner_->Release(); }
  std::optional<bool> ReadsData(std::string* why) override { return inner_->ReadsData(why); }
  std::optional<std::string> Modes() override { return inner_->Modes(); }

  // Trace another port from now on (the window switched to another virtual decoder).
  // Drops an owned inner port.
  void SetInner(PortIo& inner);
  // Writes what is buffered; false when the file could not take it.
  bool Flush();

 private:
  TracePortIo(PortIo& inner, std::FILE* file) : inner_(&inner), file_(file) {}
  void Line(bool out, uint16_t port, uint8_t value);

  PortIo* inner_;
  std::unique_ptr<PortIo> owned_;
  std::FILE* file_;
};

}  // namespace corvane
