#include "cli/Args.h"

#include <array>
#include <sstream>
#include <string_view>

#include "link/Hex.h"
#include "transfer/DataArea.h"

namespace corvane::cli {

namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

struct VerbRow {
  const char* name;
  Verb verb;
  const char* operands;  // for messages; empty: none
  int count;
};

constexpr std::array<VerbRow, 15> kVerbs{{
    {"write-firmware", Verb::WriteFirmware, "FILE", 1},
    {"read-firmware", Verb::ReadFirmware, "FILE", 1},
    {"verify-firmware", Verb::VerifyFirmware, "FILE", 1},
    {"link-test", Verb::LinkTest, "[ROUNDS]", 0},
    {"write-data-area", Verb::WriteDataArea, "FILE", 1},
    {"read-data-area", Verb::ReadDataArea, "FILE", 1},
    {"read-signature", Verb::ReadSignature, "", 0},
    {"read-eeprom", Verb::ReadEeprom, "FILE", 1},
    {"write-eeprom", Verb::WriteEeprom, "FILE", 1},
    {"ramdump", Verb::RamDump, "6071|6072|BCT13|DSI185|TVNbox FILE", 2},
    {"poke", Verb::Poke, "ADDRESS VALUE", 2},
    {"peek", Verb::Peek, "ADDRESS", 1},
    {"script", Verb::Script, "FILE|-", 1},
    {"models", Verb::Models, "", 0},
    {"help", Verb::Help, "", 0},
}};

// The names the Ram menu's items carry.
struct RamDumpName {
  const char* name;
  RamDumpKind kind;
};
constexpr std::array<RamDumpName, 5> kRamDumpNames{{
    {"6071", RamDumpKind::Dump6071},
    {"6072", RamDumpKind::Dump6072},
    {"BCT13", RamDumpKind::BCT13},
    {"DSI185", RamDumpKind::DSI185},
    {"TVNbox", RamDumpKind::TVNbox},
}};

std::optional<RamDumpKind> RamDumpName(std::string_view name) {
  for (const auto& row : kRamDumpNames) {
    if (EqualsNoCase(name, row.name)) return row.kind;
  }
  return std::nullopt;
}

constexpr const char* kHexRule = "1 to 8 hexadecimal digits, no prefix or sign";

// Control characters are shown escaped: the reason stays one line on the terminal.
std::string Quoted(std::string_view s) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "'";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kDigits[u >> 4];
      out += kDigits[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "'";
}

}  // namespace

std::string UsageText() {
  return "usage: corvane-cli [target] [profile options] [options] COMMAND [ARGS]\n"
         "target:\n"
         "  --simulate DIR         use the virtual decoders kept under DIR (one folder per model)\n"
         "  --port /dev/parportN   use this parallel port through ppdev (default: the port at 0x378)\n"
         "  --direct-io            use direct port I/O at 0x378 (root only)\n"
         "profile:\n"
         "  --model NAME           decoder model, a caption from 'models', any case (default BCT13)\n"
         "  --erase-data-area      DSX6071/6072 write-firmware: erase the data area when not writing it\n"
         "  --no-write-data-area   DSX6071/6072 write-firmware: leave the data area alone\n"
         "  --reloaded             BCT13: the Reloaded board's memory-interface set-up\n"
         "answers:\n"
         "  --yes                  answer Yes to every question\n"
         "  --no                   answer No to every question (default when not on a terminal)\n"
         "output:\n"
         "  --trace FILE           write one line per port access to FILE\n"
         "  --bus-trace FILE       virtual decoder: record the EEPROM lines to FILE (VCD)\n"
         "  --stats                virtual decoder: print port accesses, pokes, peeks, time\n"
         "  --quiet                no progress line\n"
         "verify:\n"
         "  --verify               read back what a write put into the decoder (default)\n"
         "  --no-verify            do not read back after writing\n"
         "  --connect              poke, peek, script: connect first, disconnect after\n"
         "backup:\n"
         "  --backup FILE          write-firmware, write-data-area: save what they overwrite to FILE\n"
         "                         (default: backup-MODEL-DATE-TIME.bin beside the firmware log)\n"
         "  --no-backup            write without saving the old contents first\n"
         "  --help                 this text\n"
         "commands:\n"
         "  write-firmware FILE    erase the flash and write the image FILE\n"
         "  read-firmware FILE     save the whole flash to FILE\n"
         "  verify-firmware FILE   compare the flash with FILE; change nothing\n"
         "  write-data-area FILE   write FILE into the data area\n"
         "  read-data-area FILE    save the data area to FILE\n"
         "  read-signature         show the maker and type of the flash\n"
         "  read-eeprom FILE       save the serial EEPROM to FILE\n"
         "  write-eeprom FILE      write FILE into the serial EEPROM\n"
         "  ramdump 6071|6072|BCT13|DSI185|TVNbox FILE   save a fixed memory region to FILE\n"
         "  poke ADDRESS VALUE     write one word (hexadecimal, 1 to 8 digits)\n"
         "  peek ADDRESS           read one word and print it\n"
         "  script FILE|-          run poke, peek and sleep lines from FILE or standard input\n"
         "  link-test [ROUNDS]     connect and write/read a RAM word ROUNDS times (1000):\n"
         "                         tells a bad cable from a bad decoder, measures the port\n"
         "  models                 list the decoder models and what each offers\n"
         "exit status: 0 done, 1 an error was reported, 2 usage error\n";
}

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  CliOptions o;
  bool help = false;
  bool yes = false, no = false, verify = false, noVerify = false;
  bool haveModel = false, haveBackup = false, noBackup = false;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    std::string name = arg;
    std::optional<std::string> inlineValue;
    if (const auto eq = arg.find('='); eq != std::string::npos && arg.rfind("--", 0) == 0) {
      name = arg.substr(0, eq);
      inlineValue = arg.substr(eq + 1);
    }

    // Options that take a value.
    std::string* target = nullptr;
    if (name == "--simulate") target = &o.target.simulateDir;
    else if (name == "--port") target = &o.target.port;
    else if (name == "--trace") target = &o.target.traceFile;
    else if (name == "--bus-trace") target = &o.target.busTraceFile;
    std::string modelName, backupFile;
    if (name == "--model") target = &modelName;
    if (name == "--backup") target = &backupFile;
    if (target) {
      std::string value;
      if (inlineValue) {
        value = *inlineValue;
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        return "option " + name + " needs a value";
      }
      if (value.empty()) return "option " + name + " needs a value";
      if (name == "--backup") {
        if (haveBackup) return "option --backup given twice";
        haveBackup = true;
        o.backup = value;
      } else if (name == "--model") {
        if (haveModel) return "option --model given twice";
        const auto model = ModelFromName(value);
        if (!model) return "unknown model " + Quoted(value) + " (see: corvane-cli models)";
        o.profile.model = *model;
        haveModel = true;
      } else {
        if (!target->empty()) return "option " + name + " given twice";
        *target = value;
      }
      continue;
    }

    if (inlineValue) {
      bool known = name == "--direct-io" || name == "--erase-data-area" ||
                   name == "--no-write-data-area" || name == "--reloaded" || name == "--yes" ||
                   name == "--no" || name == "--stats" || name == "--quiet" ||
                   name == "--verify" || name == "--no-verify" || name == "--connect" ||
                   name == "--no-backup" || name == "--help";
      if (known) return "option " + name + " takes no value";
      return "unknown option " + Quoted(name);
    }
    if (arg == "--direct-io") o.target.directIo = true;
    else if (arg == "--erase-data-area") o.profile.eraseDataArea = true;
    else if (arg == "--no-write-data-area") o.profile.writeDataArea = false;
    else if (arg == "--reloaded") o.profile.reloaded = true;
    else if (arg == "--yes") yes = true;
    else if (arg == "--no") no = true;
    else if (arg == "--stats") o.stats = true;
    else if (arg == "--quiet") o.quiet = true;
    else if (arg == "--verify") verify = true;
    else if (arg == "--no-verify") noVerify = true;
    else if (arg == "--connect") o.connect = true;
    else if (arg == "--no-backup") noBackup = true;
    else if (arg == "--help" || arg == "-h") help = true;
    else return "unknown option " + Quoted(arg);
  }

  if (help) {
    o.verb = Verb::Help;
    return o;
  }

  if (yes && no) return "--yes and --no cannot be used together";
  if (yes || no) o.answer = yes;
  if (verify && noVerify) return "--verify and --no-verify cannot be used together";
  if (haveBackup && noBackup) return "--backup and --no-backup cannot be used together";
  if (noBackup) o.backup.reset();
  o.verify = !noVerify;

  const bool simulated = !o.target.simulateDir.empty();
  if (simulated && (!o.target.port.empty() || o.target.directIo)) {
    return "--simulate cannot be used with --port or --direct-io";
  }
  if (!o.target.port.empty() && o.target.directIo) {
    return "--port and --direct-io cannot be used together";
  }
  if (!o.target.busTraceFile.empty() && !simulated) {
    return "--bus-trace needs --simulate (it records the virtual decoder's bus)";
  }
  if (o.stats && !simulated) return "--stats needs --simulate (it counts the virtual decoder's traffic)";

  if (positional.empty()) return "no command given (see: corvane-cli --help)";
  const std::string& command = positional[0];
  const VerbRow* row = nullptr;
  for (const auto& r : kVerbs) {
    if (command == r.name) row = &r;
  }
  if (!row) return "unknown command " + Quoted(command) + " (see: corvane-cli --help)";
  o.verb = row->verb;
  size_t operands = positional.size() - 1;
  if (o.verb == Verb::LinkTest && operands == 1) {
    const std::string& n = positional[1];
    int rounds = 0;
    bool ok = !n.empty() && n.size() <= 7;
    for (char c : n) {
      if (c < '0' || c > '9') ok = false;
      else rounds = rounds * 10 + (c - '0');
    }
    if (!ok || rounds < 1 || rounds > 1000000) {
      return "invalid round trips " + Quoted(n) + " (a decimal number from 1 to 1000000)";
    }
    o.rounds = rounds;
    positional.pop_back();
    operands = 0;
  }
  if (operands < static_cast<size_t>(row->count)) {
    return std::string(row->name) + " needs " + row->operands;
  }
  if (operands > static_cast<size_t>(row->count)) {
    return "unexpected argument " + Quoted(positional[row->count + 1]) + " after " + row->name +
           (row->count ? std::string(" ") + row->operands : std::string());
  }

  if (o.connect && o.verb != Verb::Poke && o.verb != Verb::Peek && o.verb != Verb::Script) {
    return std::string("--connect is for poke, peek and script (") + row->name +
           " connects by itself)";
  }

  switch (o.verb) {
    case Verb::RamDump: {
      const auto kind = RamDumpName(positional[1]);
      if (!kind) {
        return "unknown ramdump " + Quoted(positional[1]) + " (6071, 6072, BCT13, DSI185 or TVNbox)";
      }
      o.ramdump = *kind;
      o.file = positional[2];
      break;
    }
    case Verb::Poke:
    case Verb::Peek: {
      const auto address = ParseHexField(positional[1]);
      if (!address) return "invalid address " + Quoted(positional[1]) + " (" + kHexRule + ")";
      o.address = *address;
      if (o.verb == Verb::Poke) {
        const auto value = ParseHexField(positional[2]);
        if (!value) return "invalid value " + Quoted(positional[2]) + " (" + kHexRule + ")";
        o.value = *value;
      }
      break;
    }
    default:
      if (row->count == 1) o.file = positional[1];
      break;
  }

  // An empty name would only fail once the whole transfer has been read.
  if ((o.verb == Verb::RamDump || row->count == 1) && o.verb != Verb::Peek && o.file.empty()) {
    return std::string(row->name) + " needs a FILE name that is not empty";
  }

  const Profile& profile = o.profile.profile();
  if (!CommandOffered(profile, o.verb)) {
    return std::string(row->name) + " is not offered for " + profile.caption;
  }
  return o;
}

bool CommandOffered(const Profile& profile, Verb verb) {
  switch (verb) {
    case Verb::ReadSignature:
      return profile.readSignature;
    case Verb::ReadDataArea:
      return profile.readDataArea && ReadDataAreaOffered(profile.model);
    case Verb::WriteDataArea:
      return profile.writeDataArea && WriteDataAreaOffered(profile.model);
    default:
      return true;
  }
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

}  // namespace corvane::cli
