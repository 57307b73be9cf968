#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace corvane {

// Where the commands of a front end go: the real port or the virtual decoders. Both front
// ends read these options with the one parser below, so they accept and refuse alike.
struct TargetOptions {
  std::string simulateDir;   // --simulate DIR: the virtual decoders under DIR
  std::string port;          // --port /dev/parportN; empty: the port at 0x378
  bool directIo = false;     // --direct-io: ioperm + inb/outb (root)
  std::string traceFile;     // --trace FILE: one line per port access
  std::string busTraceFile;  // --bus-trace FILE: the EEPROM lines as VCD (virtual only)
  bool simulated() const { return !simulateDir.empty(); }
};

// A command line's words, read one option at a time. An option's value may follow it or be
// joined to it with "=".
class ArgReader {
 public:
  explicit ArgReader(const std::vector<std::string>& args) : args_(args) {}
  bool done() const { return at_ >= args_.size(); }
  const std::string& word() const { return args_[at_]; }
  // The option's name without a joined "=value".
  std::string name() const;
  // Moves past the word (and its value, when one was taken).
  void Next() { ++at_; }
  // The option's value: joined, else the next word. Nothing, with *error set, when there is
  // none or it is empty.
  std::optional<std::string> Value(std::string* error);
  // The word had a joined value that its option does not take.
  bool HasJoinedValue() const;

 private:
  const std::vector<std::string>& args_;
  size_t at_ = 0;
};

// Takes the target option the reader stands on, if it is one: nothing when it is not;
// "" when taken; else the usage error.
std::optional<std::string> TakeTargetOption(ArgReader& reader, TargetOptions* options);
// Combinations that cannot be, once every option was read: "" or the usage error.
std::string CheckTargetOptions(const TargetOptions& options);
// The --help lines of the target options.
std::string TargetOptionsUsage();

// Usage errors both front ends word alike.
std::string Quoted(std::string_view text);
std::string UnknownOptionText(std::string_view option, const char* program);

}  // namespace corvane
