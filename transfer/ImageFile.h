#pragma once
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

namespace corvane {

// The two value forms of four image bytes b0..b3 in file order.
inline uint32_t FlashValue(const uint8_t* b) {
  return (uint32_t{b[0]} << 24) | (uint32_t{b[1]} << 16) | (uint32_t{b[2]} << 8) | b[3];
}
inline uint32_t RamValue(const uint8_t* b) {
  return b[0] | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) | (uint32_t{b[3]} << 24);
}
inline void PutFlashValue(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v >> 24);
  out[1] = static_cast<uint8_t>(v >> 16);
  out[2] = static_cast<uint8_t>(v >> 8);
  out[3] = static_cast<uint8_t>(v);
}
inline void PutRamValue(uint8_t* out, uint32_t v) {
  out[0] = static_cast<uint8_t>(v);
  out[1] = static_cast<uint8_t>(v >> 8);
  out[2] = static_cast<uint8_t>(v >> 16);
  out[3] = static_cast<uint8_t>(v >> 24);
}

// An output file written under a temporary name in the same folder and renamed over the
// chosen name only by Commit(): a failed or aborted transfer leaves the old file as it was.
class AtomicFile {
 public:
  AtomicFile() = default;
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  bool Open(const std::string& path, std::string* error);
  // Buffered; errors surface at Commit.
  void Write(const uint8_t* data, size_t size);
  bool Commit(std::string* error);
  void Discard();
  // Open and no write has failed so far; a caller may stop early instead of at Commit.
  bool ok() const { return file_ != nullptr && !failed_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_, temp_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  int errno_ = 0;  // of the first failed write
  std::unique_ptr<char[]> buffer_;
};

// An input file read in order, with its size known up front.
class ImageReader {
 public:
  ImageReader() = default;
  ~ImageReader();
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;

  bool Open(const std::string& path, std::string* error);
  uint64_t size() const { return size_; }
  // False at the end of the file or on a read error.
  bool Read(uint8_t* out, size_t count);
  bool Seek(uint64_t offset);
  void Close();

 private:
  std::FILE* file_ = nullptr;
  uint64_t size_ = 0;
  std::unique_ptr<char[]> buffer_;
};

}  // namespace corvane
