#include "station/WordCommands.h"

#include <ostream>
#include <optional>
#include <sstream>

#include "link/Text.h"
#include "station/TargetOptions.h"
#include "target/Connection.h"

namespace corvane {

namespace {

constexpr const char* kHexRule = "1 to 8 hexadecimal digits, no prefix or sign";

// Poke, peek and script: like the Poke/Peek dialog they neither reset the decoder nor set up
// its memory interface, unless --connect asks for the full opening and closing of a command.
// Unlike the dialog, which lives on in a window where a command has left the port in byte
// mode, each shell run starts with the port as the last program left it (usually in its
// standard mode, where a peek reads back the port's own latch), so the port is switched to
// byte mode for the run and handed back after.
class PortModeGuard {
 public:
  explicit PortModeGuard(Link& link) : link_(link) { link_.LinkOpen(); }
  ~PortModeGuard() { link_.LinkClose(); }
  PortModeGuard(const PortModeGuard&) = delete;
  PortModeGuard& operator=(const PortModeGuard&) = delete;

 private:
  Link& link_;
};

}  // namespace

void RunWords(Session& session, const std::vector<ScriptStep>& steps, bool connect,
              bool script, std::ostream& out) {
  RunCommand(session, [&] {
    std::optional<StatusGuard> status;
    std::optional<ConnectionGuard> connection;
    std::optional<PortModeGuard> portMode;
    if (!connect) portMode.emplace(session.link);
    if (connect) {
      session.host.SetStatus("Connecting...");
      session.host.Repaint();
      if (!Connect(session)) return;
      status.emplace(session.host);
      connection.emplace(session);
    }
    Link& link = session.link;
    for (size_t i = 0; i < steps.size(); ++i) {
      const ScriptStep& step = steps[i];
      if (script && i > 0) {
        session.CheckAbort("Stop the script? Line " + std::to_string(step.line) +
                           " and the lines after it will not be run.");
      }
      switch (step.kind) {
        case ScriptStep::Poke:
          link.Poke(step.address, step.value);
          break;
        case ScriptStep::Peek: {
          const uint32_t value = link.Peek(step.address);
          if (script) out << Hex8(step.address) << ' ';
          out << Hex8(value) << '\n' << std::flush;
          break;
        }
        case ScriptStep::Sleep:
          session.clock().SleepMilliseconds(step.value);
          break;
      }
    }
  });
}

ParsedScript ParseScript(const std::string& text) {
  std::vector<ScriptStep> steps;
  std::istringstream lines(text);
  std::string raw;
  int number = 0;
  while (std::getline(lines, raw)) {
    ++number;
    const std::string at = "line " + std::to_string(number) + ": ";
    if (const auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
    std::istringstream words(raw);
    std::vector<std::string> w;
    for (std::string word; words >> word;) w.push_back(word);
    if (w.empty()) continue;

    ScriptStep step{ScriptStep::Poke, 0, 0, number};
    size_t wanted = 0;
    const char* operands = "";
    if (EqualsNoCase(w[0], "poke")) {
      step.kind = ScriptStep::Poke;
      wanted = 3;
      operands = "ADDRESS VALUE";
    } else if (EqualsNoCase(w[0], "peek")) {
      step.kind = ScriptStep::Peek;
      wanted = 2;
      operands = "ADDRESS";
    } else if (EqualsNoCase(w[0], "sleep")) {
      step.kind = ScriptStep::Sleep;
      wanted = 2;
      operands = "MILLISECONDS";
    } else {
      return at + "unknown command " + Quoted(w[0]) + " (poke, peek or sleep)";
    }
    if (w.size() < wanted) return at + w[0] + " needs " + operands;
    if (w.size() > wanted) return at + "unexpected " + Quoted(w[wanted]) + " after " + w[0] + " " + operands;

    if (step.kind == ScriptStep::Sleep) {
      // Decimal, and at most a day: a typo must not hang a bench for weeks.
      constexpr uint32_t kMaxSleep = 86400000;
      const std::string& ms = w[1];
      bool ok = !ms.empty() && ms.size() <= 9;
      uint32_t value = 0;
      for (char c : ms) {
        if (c < '0' || c > '9') ok = false;
        else value = value * 10 + static_cast<uint32_t>(c - '0');
      }
      if (!ok || value > kMaxSleep) {
        return at + "invalid milliseconds " + Quoted(ms) + " (a decimal number up to 86400000)";
      }
      step.value = value;
    } else {
      const auto address = ParseHexField(w[1]);
      if (!address) return at + "invalid address " + Quoted(w[1]) + " (" + kHexRule + ")";
      step.address = *address;
      if (step.kind == ScriptStep::Poke) {
        const auto value = ParseHexField(w[2]);
        if (!value) return at + "invalid value " + Quoted(w[2]) + " (" + kHexRule + ")";
        step.value = *value;
      }
    }
    steps.push_back(step);
  }
  return steps;
}

}  // namespace corvane
