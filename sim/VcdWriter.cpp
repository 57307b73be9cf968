#include "sim/VcdWriter.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

namespace corvane::sim {

namespace {
// Identifier codes of the two wires in the value changes.
constexpr char kSclId = '!';
constexpr char kSdaId = '"';
}  // namespace

VcdWriter::~VcdWriter() {
  Close();
}

bool VcdWriter::Open(const std::string& path, std::string* error) {
  Close();
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) {
    if (error) *error = "Cannot create " + path + ": " + std::strerror(errno);
    return false;
  }
  // A whole EEPROM transfer is a few hundred thousand changes: write in big blocks.
  std::setvbuf(file_, nullptr, _IOFBF, 1 << 16);
  std::fputs(
      "$version corvane virtual decoder $end\n"
      "$comment EEPROM two-wire bus, virtual time $end\n"
      "$timescale 1us $end\n"
      "$scope module eeprom $end\n"
      "$var wire 1 ! SCL $end\n"
      "$var wire 1 \" SDA $end\n"
      "$upscope $end\n"
      "$enddefinitions $end\n",
      file_);
  lastScl_ = lastSda_ = -1;
  lastTime_ = -1;
  return true;
}

void VcdWriter::Change(int64_t timeUs, bool scl, bool sda) {
  if (!file_) return;
  const int s = scl ? 1 : 0, d = sda ? 1 : 0;
  if (s == lastScl_ && d == lastSda_) return;
  // Timestamps must rise; a change at the same instant joins the previous block.
  if (timeUs < lastTime_) timeUs = lastTime_;
  if (timeUs != lastTime_) {
    std::fprintf(file_, "#%" PRId64 "\n", timeUs);
    lastTime_ = timeUs;
  }
  if (s != lastScl_) std::fprintf(file_, "%d%c\n", s, kSclId);
  if (d != lastSda_) std::fprintf(file_, "%d%c\n", d, kSdaId);
  lastScl_ = s;
  lastSda_ = d;
}

void VcdWriter::Close() {
  if (!file_) return;
  std::fclose(file_);
  file_ = nullptr;
}

}  // namespace corvane::sim
