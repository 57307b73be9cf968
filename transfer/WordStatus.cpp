#include "transfer/WordStatus.h"

namespace corvane {

const std::string& WordStatus::Address(uint32_t address) {
  text_.clear();
  Append(address, 8);
  return text_;
}

const std::string& WordStatus::AddressValue(uint32_t address, uint32_t value) {
  text_.clear();
  Append(address, 8);
  text_ += "  ";
  Append(value, 6);
  return text_;
}

void WordStatus::Append(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  int n = 8;
  while (n > digits && ((value >> (4 * (n - 1))) & 0xF) == 0) --n;
  for (int i = n - 1; i >= 0; --i) text_ += kDigits[(value >> (4 * i)) & 0xF];
}

}  // namespace corvane
