#pragma once
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

namespace corvane::cli {

// What the process knows of its terminal; tests hand in their own.
struct Terminal {
  std::istream* in = nullptr;  // questions and "script -"; null: nothing to read
  bool stdinIsTty = false;
  bool stderrIsTty = false;
  std::function<int64_t()> now;  // wall time in µs for the progress line; empty: steady clock
};

// The whole of corvane-cli: args without the program name. Returns the exit status:
// 0 done, 1 an error was shown, 2 usage error, 3 stopped by the user.
int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Terminal& terminal = {});

}  // namespace corvane::cli
