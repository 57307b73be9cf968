#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane::cli {

// text as a JSON string, quotes included. Bytes that are not UTF-8 become U+FFFD: the line
// stays valid JSON whatever a file name or a decoder's text holds.
std::string JsonString(std::string_view text);

// --json: what a run does, one JSON object a line, for a script to follow. A command's
// events are start, then estimate, phase, progress, message, question and output as they
// come, and end last.
class JsonEvents {
 public:
  // now: wall time in µs, for the pace of progress events.
  JsonEvents(std::ostream& out, std::function<int64_t()> now);
  ~JsonEvents();
  JsonEvents(const JsonEvents&) = delete;
  JsonEvents& operator=(const JsonEvents&) = delete;

  // Each line written here becomes an output event (peek values, script lines, --stats).
  std::ostream& output();

  // A command is about to run: what its start event names.
  void Begin(const std::string& command, const std::string& model);
  // The host's AnnounceDuration. The first is the start event, with the figure of the time
  // budget that follows it; a later one (the refined estimate) an estimate event.
  void Announce(const std::string& text);
  void Budget(int64_t totalUs);
  void Phase(const std::string& name, int sharePercent);
  // Whether a progress event is due (about four a second); true takes the turn. Before the
  // start, a progress without a percentage is left out.
  bool ProgressDue();
  void Progress(std::optional<int> percent, std::optional<int64_t> leftUs,
                const std::string& status);
  // kind: "error", "warning" or "information".
  void Message(const char* kind, const std::string& text);
  void Question(const std::string& text, bool yes);
  void FileWritten(const std::string& path);
  // Any other event: an object's members after "event" (",\"name\":...").
  void Event(const char* name, const std::string& members);
  // The last line: the result by exit status, each file written with its size and SHA-256.
  void End(int status, const std::vector<std::string>& details);

  static constexpr int kProgressPerSecond = 4;

 private:
  class LineBuffer;
  void Line(const std::string& object);
  // Puts out the start (and an estimate waiting for its figure) before any other event.
  void Due();
  void Announced(std::optional<int64_t> totalUs);

  std::ostream& out_;
  std::function<int64_t()> now_;
  std::unique_ptr<LineBuffer> buffer_;
  std::unique_ptr<std::ostream> output_;
  std::string command_, model_;
  bool begun_ = false, started_ = false;
  std::optional<std::string> announced_;  // waiting for its budget
  int64_t nextProgress_ = INT64_MIN;
  std::vector<std::string> files_;
};

}  // namespace corvane::cli
