#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane {

// SHA-256 (FIPS 180-4), for the checksums a decoder's saved folder and the shell's --json
// give every file, so that a file changed since can be told.
class Sha256 {
 public:
  Sha256();
  void Add(const void* data, size_t size);
  // The digest as 64 lowercase hex digits; the object is spent afterwards.
  std::string Hex();

 private:
  void Block(const uint8_t* p);
  std::array<uint32_t, 8> h_;
  std::array<uint8_t, 64> buffer_{};
  size_t used_ = 0;
  uint64_t bytes_ = 0;
};

// The digest of a whole file; nothing with *error set when it cannot be read.
std::optional<std::string> Sha256OfFile(const std::string& path, std::string* error);

}  // namespace corvane
