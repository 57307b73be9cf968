#include "link/TracePortIo.h"

#include <cerrno>
#include <cstring>

namespace corvane {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
// Whole flashes make millions of lines; a large buffer keeps the trace cheap.
constexpr size_t kBufferSize = 1 << 16;
}  // namespace

std::unique_ptr<TracePortIo> TracePortIo::Create(PortIo& inner, const std::string& path,
                                                 std::string* error) {
  std::FILE* file = std::fopen(path.c_str(), "w");
  if (!file) {
    if (error) *error = "Cannot create the trace file " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  std::setvbuf(file, nullptr, _IOFBF, kBufferSize);
  return std::unique_ptr<TracePortIo>(new TracePortIo(inner, file));
}

std::unique_ptr<TracePortIo> TracePortIo::Create(std::unique_ptr<PortIo> inner,
                                                 const std::string& path, std::string* error) {
  if (!inner) {
    if (error) *error = "No port to trace";
    return nullptr;
  }
  auto trace = Create(*inner, path, error);
  if (trace) trace->owned_ = std::move(inner);
  return trace;
}

TracePortIo::~TracePortIo() { std::fclose(file_); }

void TracePortIo::Line(bool out, uint16_t port, uint8_t value) {
  char line[12];
  size_t n = 0;
  if (out) {
    line[n++] = 'o';
    line[n++] = 'u';
    line[n++] = 't';
  } else {
    line[n++] = 'i';
    line[n++] = 'n';
  }
  line[n++] = ' ';
  line[n++] = kDigits[(port >> 8) & 0xF];
  line[n++] = kDigits[(port >> 4) & 0xF];
  line[n++] = kDigits[port & 0xF];
  line[n++] = ' ';
  line[n++] = kDigits[value >> 4];
  line[n++] = kDigits[value & 0xF];
  line[n++] = '\n';
  std::fwrite(line, 1, n, file_);
}

uint8_t TracePortIo::PortIn(uint16_t port) {
  const uint8_t value = inner_->PortIn(port);
  Line(false, port, value);
  return value;
}

void TracePortIo::PortOut(uint16_t port, uint8_t value) {
  // Written first, so the line is there even when the access throws.
  Line(true, port, value);
  inner_->PortOut(port, value);
}

void TracePortIo::SetInner(PortIo& inner) {
  inner_ = &inner;
  if (owned_.get() != &inner) owned_.reset();
}

bool TracePortIo::Flush() { return std::fflush(file_) == 0 && !std::ferror(file_); }

}  // namespace corvane
