#include "transfer/InputImage.h"

#include <algorithm>
#include <vector>

#include "link/Text.h"
#include "transfer/ImageFile.h"
#include "transfer/Transfer.h"

namespace corvane {

bool OpenInput(Session& s, ImageReader& image, const std::string& path, uint64_t needed,
               const std::string& what, bool confirmLonger) {
  std::string error;
  if (!image.Open(path, &error)) {
    s.host.MessageBox(MessageKind::Error, error + ". Nothing was written to the decoder.",
                      Buttons::Ok);
    return false;
  }
  if (image.size() < needed) {
    s.host.MessageBox(MessageKind::Error,
                      "The " + what + " " + path +
                          " is too short: " + s.profileRow().caption + " needs " +
                          std::to_string(needed) + " bytes (" +
                          Hex(static_cast<uint32_t>(needed), 1) + " hex), the file has " +
                          std::to_string(image.size()) + ". Nothing was written to the decoder.",
                      Buttons::Ok);
    image.Close();
    return false;
  }
  if (confirmLonger &&
      !UseFirstPartOf(s.host, what, path, image.size(), needed, s.profileRow().caption)) {
    image.Close();
    return false;
  }
  return true;
}

namespace {

[[noreturn]] void InputFailedAt(uint64_t offset) {
  throw TransferError("Reading the input file failed at offset " +
                      Hex8(static_cast<uint32_t>(offset)) + ". The transfer was stopped there.");
}

}  // namespace

void ReadWord(ImageReader& image, uint8_t* bytes, uint64_t offset) {
  if (!image.Read(bytes, 4)) InputFailedAt(offset);
}

uint32_t CountProgrammedWords(ImageReader& image, uint32_t first, uint32_t words) {
  uint32_t count = 0;
  SkipBytes(image, 4ull * first);
  std::vector<uint8_t> chunk(64 * 1024);
  for (uint32_t done = 0; done < words;) {
    const uint32_t n = std::min<uint32_t>(words - done, static_cast<uint32_t>(chunk.size() / 4));
    if (!image.Read(chunk.data(), 4ull * n)) InputFailedAt(4ull * (first + done));
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* b = chunk.data() + 4 * i;
      count += (b[0] & b[1] & b[2] & b[3]) != 0xFF;
    }
    done += n;
  }
  SkipBytes(image, 0);
  return count;
}

void SkipBytes(ImageReader& image, uint64_t to) {
  if (!image.Seek(to)) InputFailedAt(to);
}

std::vector<uint32_t> ImageWords(ImageReader& image, uint32_t words) {
  std::vector<uint32_t> out(words);
  SkipBytes(image, 0);
  uint8_t b[4];
  for (uint32_t i = 0; i < words; ++i) {
    ReadWord(image, b, 4ull * i);
    out[i] = FlashValue(b);
  }
  SkipBytes(image, 0);
  return out;
}

}  // namespace corvane
