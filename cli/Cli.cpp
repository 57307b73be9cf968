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
#include "cli/JsonEvents.h"
#include "cli/TerminalHost.h"
#include "link/Text.h"
#include "station/Backend.h"
#include "station/Runner.h"
#include "target/Files.h"
#include "target/Version.h"

namespace corvane::cli {

namespace {

constexpr const char* kProgram = "corvane-cli: ";

// An input file is checked before anything reaches the decoder: Connect resets it. Images
// must be files (their size is checked); a script may come down a pipe, as from <(...).
bool CheckInputFile(const std::string& path, bool stream, std::string* error) {
  // O_NONBLOCK: opening a FIFO must not wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  const int statError = ::fstat(fd, &st) == 0 ? 0 : errno;
  ::close(fd);
  std::string why = statError != 0 ? std::strerror(statError) : NotAFile(st.st_mode);
  if (stream && (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode))) why.clear();
  if (!why.empty()) {
    *error = "cannot open " + path + ": " + why;
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
    if (!CheckInputFile(file, true, &problem)) {
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

// Where a path is or would be: its file, or its folder and name while it does not exist yet.
struct FileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  std::string name;  // empty: an existing file
  bool operator==(const FileIdentity&) const = default;
};

std::optional<FileIdentity> IdentityOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) return FileIdentity{st.st_dev, st.st_ino, {}};
  const size_t slash = path.find_last_of('/');
  const std::string folder =
      slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty() || ::stat(folder.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino, name};
}

// One file in two roles, one of them written: the write would destroy the other before it
// is used ("--trace image.bin write-firmware image.bin" truncates the image). "" or the
// usage error, before anything is opened.
std::string CheckFilesDistinct(const CliOptions& o, const CommandRow& row) {
  struct Role {
    std::string path;
    std::string what;
    bool written;
  };
  std::vector<Role> roles;
  if (row.file == FileUse::Input || o.command == CommandId::Script) {
    if (o.file != "-") roles.push_back({o.file, "the command's input file", false});
  }
  if (row.file == FileUse::Output) roles.push_back({o.file, "the command's output file", true});
  if (row.writes && o.backup && !o.backup->empty()) roles.push_back({*o.backup, "the --backup file", true});
  if (!o.target.traceFile.empty()) roles.push_back({o.target.traceFile, "the --trace file", true});
  if (!o.target.busTraceFile.empty())
    roles.push_back({o.target.busTraceFile, "the --bus-trace file", true});
  std::vector<std::optional<FileIdentity>> ids;
  for (const Role& r : roles) ids.push_back(IdentityOf(r.path));
  for (size_t i = 0; i < roles.size(); ++i) {
    for (size_t j = i + 1; j < roles.size(); ++j) {
      if (!roles[i].written && !roles[j].written) continue;
      const bool same = ids[i] && ids[j] ? *ids[i] == *ids[j] : roles[i].path == roles[j].path;
      if (same) {
        return Quoted(roles[j].path) + " is both " + roles[i].what + " and " + roles[j].what +
               ": give them different files";
      }
    }
  }
  // Running a write twice would otherwise replace the only copy of the old contents.
  if (row.writes && o.backup && !o.backup->empty()) {
    struct stat st {};
    if (::lstat(o.backup->c_str(), &st) == 0) {
      return "--backup " + Quoted(*o.backup) +
             " already exists: a backup never replaces a file; name a new one";
    }
  }
  return {};
}

void PrintStats(Backend& backend, const std::vector<std::string>& details, std::ostream& out) {
  const auto stats = backend.stats();
  if (!stats) return;
  const TrafficStats& s = *stats;
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%.3f", static_cast<double>(s.virtualTimeUs) / 1e6);
  out << "port accesses: " << s.portAccesses << '\n'
      << "pokes: " << s.pokes << '\n'
      << "peeks: " << s.peeks << '\n'
      << "virtual time: " << seconds << " s\n";
  for (const std::string& line : details) out << line << '\n';
}

// A model of `models --json`: an event's members.
std::string ModelMembers(const ModelFacts& m) {
  std::string verbs;
  for (const std::string& verb : m.verbs) verbs += (verbs.empty() ? "" : ",") + JsonString(verb);
  const std::string data = m.dataBytes == 0
                               ? "null"
                               : "{\"base\":" + JsonString(Hex8(m.dataStart)) +
                                     ",\"bytes\":" + std::to_string(m.dataBytes) +
                                     ",\"in_flash\":" + (m.dataInFlash ? "true" : "false") + "}";
  return ",\"model\":" + JsonString(m.profile->caption) +
         ",\"flash\":{\"base\":" + JsonString(Hex8(m.flashBase)) +
         ",\"bytes\":" + std::to_string(m.flashBytes) + "},\"data_area\":" + data +
         ",\"eeprom_bytes\":" + std::to_string(m.eepromBytes) + ",\"commands\":[" + verbs + "]";
}

// The run without its end event. With events, the command's results (peek values, script
// lines, --stats, help) become output events and its other text goes to err.
int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const Terminal& terminal, JsonEvents* events, std::vector<std::string>* details) {
  // A line of the shell's own, and with --json an error event.
  const auto say = [&](const char* kind, const std::string& text) {
    err << kProgram << text << '\n';
    if (events) events->Message(kind, text);
  };
  const ParsedArgs parsed = ParseArgs(args);
  if (const auto* usage = std::get_if<std::string>(&parsed)) {
    say("error", *usage);
    return 2;
  }
  const CliOptions& o = std::get<CliOptions>(parsed);
  std::ostream& data = events ? events->output() : out;
  std::ostream& text = events ? err : out;
  if (o.help) {
    data << UsageText();
    return 0;
  }
  if (o.version) {
    data << "corvane-cli " << kVersion << '\n';
    return 0;
  }
  if (o.models && !events) out << ModelsTable();
  if (o.models && events) {
    for (const ModelFacts& m : AllModelFacts()) events->Event("model", ModelMembers(m));
  }
  if (o.models) return 0;

  RunRequest request;
  request.command = o.command;
  request.profile = o.profile;
  request.verify = o.verify;
  request.fullWrite = o.fullWrite;
  request.backup = o.backup;
  request.args.rounds = o.rounds;
  request.args.connect = o.connect;
  request.args.out = &data;
  if (o.command == CommandId::Poke) request.args.steps.push_back({ScriptStep::Poke, o.address, o.value, 0});
  if (o.command == CommandId::Peek) request.args.steps.push_back({ScriptStep::Peek, o.address, 0, 0});
  if (o.command == CommandId::Script) {
    std::string script, error;
    if (!ReadScript(o.file, terminal.in, &script, &error)) {
      say("error", error);
      return 1;
    }
    auto steps = ParseScript(script);
    if (const auto* bad = std::get_if<std::string>(&steps)) {
      say("error", *bad);
      return 2;
    }
    request.args.steps = std::move(std::get<std::vector<ScriptStep>>(steps));
  }
  const CommandRow& row = CommandOf(o.command);
  if (const std::string clash = CheckFilesDistinct(o, row); !clash.empty()) {
    say("error", clash);
    return 2;
  }
  if (row.file == FileUse::Input) {
    std::string error;
    if (!CheckInputFile(o.file, false, &error)) {
      say("error", error);
      return 1;
    }
  }

  // A script read from standard input has used it up; questions cannot be asked there.
  // --json asks nothing: a program reads the answers, not a person.
  const bool stdinFree = !(o.command == CommandId::Script && o.file == "-");
  std::istringstream noInput;
  TerminalHost::Settings settings;
  settings.answer = o.answer;
  settings.stdinIsTty = terminal.stdinIsTty && terminal.in && stdinFree && !events;
  settings.stderrIsTty = terminal.stderrIsTty;
  settings.quiet = o.quiet;
  if (row.file != FileUse::None) settings.path = o.file;
  settings.now = terminal.now;
  settings.events = events;
  if (events) settings.data = &out;
  TerminalHost host(text, err, terminal.in ? *terminal.in : noInput, std::move(settings));

  const std::string caption = o.profile.profile().caption;
  // Before anything reaches the port: the model decides the set-up the decoder is sent.
  if (!o.modelGiven) err << kProgram << "no --model given: using " << caption << '\n';
  if (events) {
    events->Begin(std::string(row.verb) + (row.region ? std::string(" ") + row.region : ""),
                  caption);
  }

  std::string error;
  auto backend = Backend::Start(o.target, host, &error);
  if (!backend) {
    host.Finish();
    if (!error.empty() || !host.errorShown()) say("error", error);
    return 1;
  }

  const RunResult result = RunOne(*backend, host, request);
  host.Finish();
  *details = result.details;
  if (!result.begun) {
    say("error", result.beginError);
    return 1;
  }
  int status = host.errorShown() ? 1 : 0;
  if (host.stoppedByUser()) {
    say("warning", host.stoppedText());
    status = host.stoppedBySignal() ? 3 : 1;
  }
  if (!result.endError.empty()) {
    say("error", result.endError);
    status = 1;
  }
  if (o.stats) PrintStats(*backend, result.details, data);
  if (o.verbose) {
    for (const std::string& line : result.details) err << line << '\n';
  }
  // What was printed is part of the result: output that could not be written is an error.
  out << std::flush;
  if (!out && !host.outputLost()) {
    err << kProgram << "standard output could not be written (a closed pipe or a full disk)\n";
    status = 1;
  }
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
           const Terminal& terminal) {
  std::optional<JsonEvents> events;
  if (WantsJson(args)) events.emplace(out, terminal.now ? terminal.now : SteadyMicroseconds);
  std::vector<std::string> details;
  const int status = Run(args, out, err, terminal, events ? &*events : nullptr, &details);
  if (events) events->End(status, details);
  return status;
}

}  // namespace corvane::cli
