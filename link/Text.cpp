#include "link/Text.h"

namespace corvane {

std::string Hex(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  char buffer[8];
  int n = 0;
  do {
    buffer[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::string out;
  out.reserve(digits > n ? digits : n);
  for (int i = n; i < digits; ++i) out += '0';
  while (n > 0) out += buffer[--n];
  return out;
}

std::optional<uint32_t> ParseHexField(std::string_view text, size_t maxDigits) {
  if (text.empty() || text.size() > maxDigits) return std::nullopt;
  uint64_t value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') digit = c - '0';
    else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    else return std::nullopt;
    value = (value << 4) | static_cast<uint64_t>(digit);
  }
  return static_cast<uint32_t>(value);
}

std::string ShellQuoted(std::string_view word) {
  if (!word.empty() && word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                              "0123456789_-+./:=,@%") == std::string_view::npos) {
    return std::string(word);
  }
  std::string out = "'";
  for (char c : word) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

std::string SizeText(uint64_t bytes) {
  if (bytes != 0 && bytes % (1024 * 1024) == 0) return std::to_string(bytes >> 20) + " MB";
  if (bytes != 0 && bytes % 1024 == 0) return std::to_string(bytes >> 10) + " KB";
  return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

}  // namespace corvane
