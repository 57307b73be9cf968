#pragma once
#include <cstdint>
#include <string>

namespace corvane {

// Per-word status texts, built in place: a whole-flash loop must not allocate per word.
class WordStatus {
 public:
  WordStatus() { text_.reserve(32); }
  // "7FE00000"
  const std::string& Address(uint32_t address);
  // "7FE00000  123456": the value with at least 6 digits.
  const std::string& AddressValue(uint32_t address, uint32_t value);

 private:
  void Append(uint32_t value, int digits);
  std::string text_;
};

}  // namespace corvane
