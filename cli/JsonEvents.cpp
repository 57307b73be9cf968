#include "cli/JsonEvents.h"

#include <cstdio>
#include <filesystem>
#include <ostream>
#include <streambuf>

#include "target/Sha256.h"

namespace corvane::cli {

namespace {

// The length of the UTF-8 sequence at s[i], or 0 when it is none (overlong forms,
// surrogates and code points past U+10FFFF included).
size_t Utf8Length(std::string_view s, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  const size_t length = c >= 0xF0 && c <= 0xF4   ? 4
                        : c >= 0xE0 && c <= 0xEF ? 3
                        : c >= 0xC2 && c <= 0xDF ? 2
                                                 : 0;
  unsigned char low = 0x80, high = 0xBF;  // what the second byte may be
  if (c == 0xE0) low = 0xA0;
  if (c == 0xED) high = 0x9F;
  if (c == 0xF0) low = 0x90;
  if (c == 0xF4) high = 0x8F;
  if (length == 0 || i + length > s.size()) return 0;
  if (byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

std::string Seconds(int64_t us, const char* format) {
  char text[32];
  std::snprintf(text, sizeof text, format, static_cast<double>(us) / 1e6);
  return text;
}

}  // namespace

std::string JsonString(std::string_view text) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out = "\"";
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80) {
      const size_t length = Utf8Length(text, i);
      out += length ? text.substr(i, length) : "\xEF\xBF\xBD";
      i += length ? length : 1;
      continue;
    }
    ++i;
    const char* escape = c == '"'    ? "\\\""
                         : c == '\\' ? "\\\\"
                         : c == '\n' ? "\\n"
                         : c == '\r' ? "\\r"
                         : c == '\t' ? "\\t"
                                     : nullptr;
    if (escape) {
      out += escape;
    } else if (c < 0x20 || c == 0x7F) {
      out += "\\u00";
      out += kDigits[c >> 4];
      out += kDigits[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

// Whole lines of the command's printed output, each as an output event.
class JsonEvents::LineBuffer final : public std::streambuf {
 public:
  explicit LineBuffer(JsonEvents& events) : events_(events) {}
  void Flush() {
    if (line_.empty()) return;
    events_.Event("output", ",\"text\":" + JsonString(line_));
    line_.clear();
  }

 protected:
  int_type overflow(int_type c) override {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    if (traits_type::to_char_type(c) == '\n') {
      events_.Event("output", ",\"text\":" + JsonString(line_));
      line_.clear();
    } else {
      line_ += traits_type::to_char_type(c);
    }
    return c;
  }

 private:
  JsonEvents& events_;
  std::string line_;
};

JsonEvents::JsonEvents(std::ostream& out, std::function<int64_t()> now)
    : out_(out),
      now_(std::move(now)),
      buffer_(std::make_unique<LineBuffer>(*this)),
      output_(std::make_unique<std::ostream>(buffer_.get())) {}

JsonEvents::~JsonEvents() = default;

std::ostream& JsonEvents::output() {
  return *output_;
}

void JsonEvents::Line(const std::string& object) {
  out_ << object << '\n' << std::flush;
}

void JsonEvents::Event(const char* name, const std::string& members) {
  Due();
  Line(std::string("{\"event\":\"") + name + "\"" + members + "}");
}

void JsonEvents::Begin(const std::string& command, const std::string& model) {
  command_ = command;
  model_ = model;
  begun_ = true;
}

void JsonEvents::Due() {
  if (announced_) Announced(std::nullopt);
  if (begun_ && !started_) {
    started_ = true;
    Line("{\"event\":\"start\",\"command\":" + JsonString(command_) +
         ",\"model\":" + JsonString(model_) + ",\"estimate_s\":null,\"text\":null}");
  }
}

void JsonEvents::Announced(std::optional<int64_t> totalUs) {
  const std::string text = *announced_;
  announced_.reset();
  started_ = true;
  Line("{\"event\":\"start\",\"command\":" + JsonString(command_) + ",\"model\":" +
       JsonString(model_) + ",\"estimate_s\":" + (totalUs ? Seconds(*totalUs, "%.3f") : "null") +
       ",\"text\":" + JsonString(text) + "}");
}

void JsonEvents::Announce(const std::string& text) {
  if (begun_ && !started_ && !announced_) {
    // Its figure comes with the time budget the command sets next.
    announced_ = text;
    return;
  }
  Event("estimate", ",\"text\":" + JsonString(text));
}

void JsonEvents::Budget(int64_t totalUs) {
  if (announced_) Announced(totalUs);
}

void JsonEvents::Phase(const std::string& name, int sharePercent) {
  if (name.empty()) return;  // the command ended: its end event says so
  Event("phase", ",\"name\":" + JsonString(name) + ",\"share\":" + std::to_string(sharePercent));
  // The phase's first progress shows at once.
  nextProgress_ = INT64_MIN;
}

bool JsonEvents::ProgressDue() {
  const int64_t now = now_();
  if (now < nextProgress_) return false;
  nextProgress_ = now + 1000000 / kProgressPerSecond;
  return true;
}

void JsonEvents::Progress(std::optional<int> percent, std::optional<int64_t> leftUs,
                          const std::string& status) {
  // Before the start, only progress that can be measured makes it due: connecting comes
  // before a command's estimate, and the start should carry the estimate.
  if (begun_ && !started_ && (!percent || announced_)) {
    nextProgress_ = INT64_MIN;
    return;
  }
  Event("progress", ",\"percent\":" + (percent ? std::to_string(*percent) : "null") +
                        ",\"left_s\":" + (leftUs ? Seconds(*leftUs, "%.1f") : "null") +
                        ",\"status\":" + JsonString(status));
}

void JsonEvents::Message(const char* kind, const std::string& text) {
  Event("message", std::string(",\"kind\":\"") + kind + "\",\"text\":" + JsonString(text));
}

void JsonEvents::Question(const std::string& text, bool yes) {
  Event("question",
        ",\"text\":" + JsonString(text) + ",\"answer\":" + (yes ? "\"yes\"" : "\"no\""));
}

void JsonEvents::FileWritten(const std::string& path) {
  for (const std::string& file : files_) {
    if (file == path) return;
  }
  files_.push_back(path);
}

void JsonEvents::End(int status, const std::vector<std::string>& details) {
  buffer_->Flush();
  std::string files;
  for (const std::string& path : files_) {
    // Hashed now: what the file holds as the run leaves it.
    std::string error;
    const auto sha = Sha256OfFile(path, &error);
    std::error_code ec;
    const auto bytes = std::filesystem::file_size(path, ec);
    files += std::string(files.empty() ? "" : ",") + "{\"path\":" + JsonString(path) +
             ",\"bytes\":" + (ec ? "null" : std::to_string(bytes)) +
             ",\"sha256\":" + (sha ? JsonString(*sha) : "null") + "}";
  }
  std::string lines;
  for (const std::string& line : details) lines += (lines.empty() ? "" : ",") + JsonString(line);
  const char* result = status == 0 ? "done" : status == 3 ? "stopped" : "failed";
  Event("end", std::string(",\"result\":\"") + result + "\",\"exit\":" + std::to_string(status) +
                   ",\"files\":[" + files + "],\"details\":[" + lines + "]");
}

}  // namespace corvane::cli
