#include "cli/Cli.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>

#include "cli/Args.h"
#include "cli/Station.h"
#include "cli/TerminalHost.h"
#include "eeprom/EepromCommands.h"
#include "flash/Signature.h"
#include "link/Hex.h"
#include "sim/VirtualDecoder.h"
#include "target/Connection.h"
#include "target/LinkTest.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"
#include "transfer/RamDump.h"

namespace corvane::cli {

namespace {

constexpr const char* kProgram = "corvane-cli: ";

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

// An input file is checked before anything reaches the decoder: Connect resets it.
bool CheckInputFile(const std::string& path, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  const bool isDir = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
  ::close(fd);
  if (isDir) {
    *error = "cannot open " + path + ": " + std::strerror(EISDIR);
    return false;
  }
  return true;
}

bool ReadScript(const std::string& file, std::istream* in, std::string* text,
                std::string* error) {
  std::ostringstream buffer;
  if (file == "-") {
    if (!in) {
      *error = "no standard input to read the script from";
      return false;
    }
    buffer << in->rdbuf();
  } else {
    std::string problem;
    if (!CheckInputFile(file, &problem)) {
      *error = problem;
      return false;
    }
    std::ifstream stream(file, std::ios::binary);
    buffer << stream.rdbuf();
    if (stream.bad()) {
      *error = "cannot read " + file;
      return false;
    }
  }
  *text = buffer.str();
  return true;
}

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

void RunWords(Session& session, const CliOptions& o, const std::vector<ScriptStep>& steps,
              std::ostream& out) {
  RunCommand(session, [&] {
    std::optional<StatusGuard> status;
    std::optional<ConnectionGuard> connection;
    std::optional<PortModeGuard> portMode;
    if (!o.connect) portMode.emplace(session.link);
    if (o.connect) {
      session.host.SetStatus("Connecting...");
      session.host.Repaint();
      if (!Connect(session)) return;
      status.emplace(session.host);
      connection.emplace(session);
    }
    Link& link = session.link;
    for (size_t i = 0; i < steps.size(); ++i) {
      const ScriptStep& step = steps[i];
      if (o.verb == Verb::Script && i > 0) {
        session.CheckAbort("Stop the script? Line " + std::to_string(step.line) +
                           " and the lines after it will not be run.");
      }
      switch (step.kind) {
        case ScriptStep::Poke:
          link.Poke(step.address, step.value);
          break;
        case ScriptStep::Peek: {
          const uint32_t value = link.Peek(step.address);
          if (o.verb == Verb::Script) out << Hex8(step.address) << ' ';
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

void RunCommandOf(Session& session, const CliOptions& o, const std::vector<ScriptStep>& steps,
                  std::ostream& out) {
  switch (o.verb) {
    case Verb::WriteFirmware: WriteFirmware(session); break;
    case Verb::ReadFirmware: ReadFirmware(session); break;
    case Verb::WriteDataArea: WriteDataArea(session); break;
    case Verb::ReadDataArea: ReadDataArea(session); break;
    case Verb::ReadSignature: ReadSignature(session); break;
    case Verb::ReadEeprom: ReadEeprom(session); break;
    case Verb::WriteEeprom: WriteEeprom(session); break;
    case Verb::RamDump: RamDump(session, o.ramdump); break;
    case Verb::VerifyFirmware: VerifyFirmware(session); break;
    case Verb::LinkTest: LinkTest(session, o.rounds); break;
    case Verb::Poke:
    case Verb::Peek:
    case Verb::Script: RunWords(session, o, steps, out); break;
    case Verb::Help:
    case Verb::Models: break;
  }
}

}  // namespace

std::string ModelsTable() {
  std::string table = Pad("Model", 14) + Pad("DecoderType", 13) + Pad("EEPROM", 24) +
                      Pad("PioBase", 10) + "Commands\n";
  for (const Profile& p : kProfiles) {
    const std::string eeprom = std::to_string((p.EepromLastAddress + 1) / 1024) + " KB, " +
                               (p.EepromWideAddress ? "2 address bytes" : "1 address byte");
    std::string commands;
    auto add = [&](bool offered, const char* name) {
      if (!offered) return;
      if (!commands.empty()) commands += ", ";
      commands += name;
    };
    add(CommandOffered(p, Verb::ReadSignature), "Read Signature");
    add(CommandOffered(p, Verb::ReadDataArea), "Read Data Area");
    add(CommandOffered(p, Verb::WriteDataArea), "Write Data Area");
    if (commands.empty()) commands = "-";
    table += Pad(p.caption, 14) + Pad(std::to_string(p.DecoderType), 13) + Pad(eeprom, 24) +
             Pad(Hex8(p.PioBase), 10) + commands + "\n";
  }
  return table;
}

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Terminal& terminal) {
  const ParsedArgs parsed = ParseArgs(args);
  if (const auto* usage = std::get_if<std::string>(&parsed)) {
    err << kProgram << *usage << '\n';
    return 2;
  }
  const CliOptions& o = std::get<CliOptions>(parsed);
  if (o.verb == Verb::Help) {
    out << UsageText();
    return 0;
  }
  if (o.verb == Verb::Models) {
    out << ModelsTable();
    return 0;
  }

  std::vector<ScriptStep> steps;
  if (o.verb == Verb::Poke) steps.push_back({ScriptStep::Poke, o.address, o.value, 0});
  if (o.verb == Verb::Peek) steps.push_back({ScriptStep::Peek, o.address, 0, 0});
  if (o.verb == Verb::Script) {
    std::string text, error;
    if (!ReadScript(o.file, terminal.in, &text, &error)) {
      err << kProgram << error << '\n';
      return 1;
    }
    auto script = ParseScript(text);
    if (const auto* bad = std::get_if<std::string>(&script)) {
      err << kProgram << *bad << '\n';
      return 2;
    }
    steps = std::move(std::get<std::vector<ScriptStep>>(script));
  }
  if (o.verb == Verb::WriteFirmware || o.verb == Verb::WriteDataArea ||
      o.verb == Verb::WriteEeprom || o.verb == Verb::VerifyFirmware) {
    std::string error;
    if (!CheckInputFile(o.file, &error)) {
      err << kProgram << error << '\n';
      return 1;
    }
  }

  // A script read from standard input has used it up; questions cannot be asked there.
  const bool stdinFree = !(o.verb == Verb::Script && o.file == "-");
  std::istringstream noInput;
  TerminalHost::Settings settings;
  settings.answer = o.answer;
  settings.stdinIsTty = terminal.stdinIsTty && terminal.in && stdinFree;
  settings.stderrIsTty = terminal.stderrIsTty;
  settings.quiet = o.quiet;
  if (!o.file.empty() && o.verb != Verb::Script) settings.path = o.file;
  settings.now = terminal.now;
  TerminalHost host(out, err, terminal.in ? *terminal.in : noInput, std::move(settings));

  std::string error;
  auto station = Station::Create(o.target, host, &error);
  if (!station) {
    host.Finish();
    // The start-up has said why already when it showed a message.
    if (!error.empty() && !host.errorShown()) err << kProgram << error << '\n';
    return 1;
  }
  if (!station->Begin(o.profile.model, &error)) {
    host.Finish();
    err << kProgram << error << '\n';
    return 1;
  }

  // logDir empty: the log goes beside the executable, else into the user's data folder.
  Session session{station->link(), station->ee(), host,    o.profile,
                  station->loaderDir(o.profile.model), "",  o.verify, nullptr};
  session.backup = o.backup;
  session.linkCostPath = station->linkCostPath(o.profile.model);
  LoadLinkCost(session.linkCostPath, &session.linkCost);
  RunCommandOf(session, o, steps, out);

  const bool saved = station->End(&error);
  host.Finish();
  int status = host.errorShown() ? 1 : 0;
  if (host.stoppedByUser()) {
    err << kProgram << "stopped by Ctrl-C\n";
    status = 1;
  }
  if (!saved) {
    err << kProgram << error << '\n';
    status = 1;
  }
  if (o.stats && station->decoder()) {
    const sim::Stats& s = station->decoder()->stats();
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(s.virtualTimeUs) / 1e6);
    out << "port accesses: " << s.portAccesses << '\n'
        << "pokes: " << s.pokes << '\n'
        << "peeks: " << s.peeks << '\n'
        << "virtual time: " << seconds << " s\n";
    for (const std::string& line : session.details) out << line << '\n';
  }
  out << std::flush;
  return status;
}

}  // namespace corvane::cli
