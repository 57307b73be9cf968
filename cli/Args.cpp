#include "cli/Args.h"

#include <algorithm>
#include <set>

#include "flash/FlashModels.h"
#include "link/Text.h"

namespace corvane::cli {

namespace {

constexpr const char* kProgram = "corvane-cli";
constexpr const char* kHexRule = "1 to 8 hexadecimal digits, no prefix or sign";

std::string Pad(std::string s, size_t width) {
  if (s.size() < width) s.append(width - s.size(), ' ');
  return s;
}

// The ramdump names, in the Ram menu's order: "6071|6072|..." or "6071, 6072, ... or TVNbox".
std::string RegionNames(const char* separator, const char* last) {
  const auto rows = RowsOfVerb("ramdump");
  std::string out;
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i > 0) out += i + 1 == rows.size() ? last : separator;
    out += rows[i]->region;
  }
  return out;
}

// "ramdump 6071|6072|BCT13|DSI185|TVNbox FILE", "write-firmware FILE", "models".
std::string Synopsis(const CommandRow& row) {
  std::string operands = row.operands;
  if (row.region) operands = RegionNames("|", "|") + " FILE";
  return std::string(row.verb) + (operands.empty() ? "" : " " + operands);
}

// Word count of a verb's operands ("[ROUNDS]" is optional and counted apart).
int OperandCount(const CommandRow& row) {
  if (row.region) return 2;
  const std::string ops = row.operands;
  if (ops.empty() || ops[0] == '[') return 0;
  int n = 1;
  for (char c : ops) n += c == ' ';
  return n;
}

// The short forms. One that takes a value takes it joined ("-mTS1") or as the next word;
// the others stand alone ("-q -y", not "-qy").
struct ShortOption {
  char letter;
  const char* name;
  bool takesValue;
};
constexpr ShortOption kShortOptions[] = {
    {'m', "--model", true},  {'s', "--simulate", true}, {'p', "--port", true},
    {'b', "--backup", true}, {'y', "--yes", false},     {'n', "--no", false},
    {'q', "--quiet", false}, {'v', "--verbose", false}, {'V', "--version", false},
    {'h', "--help", false},
};

const ShortOption* ShortOf(const std::string& word) {
  if (word.size() < 2 || word[0] != '-' || word[1] == '-') return nullptr;
  for (const ShortOption& s : kShortOptions) {
    if (word[1] == s.letter && (word.size() == 2 || s.takesValue)) return &s;
  }
  return nullptr;
}

// "DSX6071/6072, DSI185, ... or DSX6170".
std::string ModelNames() {
  std::string out;
  for (size_t i = 0; i < kProfiles.size(); ++i) {
    if (i > 0) out += i + 1 == kProfiles.size() ? " or " : ", ";
    out += kProfiles[i].caption;
  }
  return out;
}

}  // namespace

std::string UsageText() {
  std::string text =
      "usage: corvane-cli [target] [profile options] [options] COMMAND [ARGS]\n"
      "target:\n" +
      TargetOptionsUsage() +
      "  -s DIR, -p DEV         short for --simulate DIR, --port DEV\n"
      "profile:\n"
      "  --model NAME, -m NAME  decoder model from 'models': any case, blanks, '-' and '_'\n"
      "                         ignored, DSX6071 or DSX6072 for DSX6071/6072 (default BCT13;\n"
      "                         the writes need it, the other commands say what they use)\n"
      "  --erase-data-area      DSX6071/6072 write-firmware: erase the data area when not writing it\n"
      "  --no-write-data-area   DSX6071/6072 write-firmware: leave the data area alone\n"
      "  --reloaded             BCT13: the Reloaded board's memory-interface set-up\n"
      "answers:\n"
      "  --yes, -y              answer Yes to every question\n"
      "  --no, -n               answer No to every question (default when not on a terminal)\n"
      "output:\n"
      "  --stats                virtual decoder: print port accesses, pokes, peeks, time\n"
      "  --quiet, -q            no progress line (errors still on standard error)\n"
      "  --verbose, -v          also the estimate's and the comparison's figures on stderr\n"
      "  --json                 one JSON object a line on standard output (start, estimate,\n"
      "                         phase, progress, message, question, output, end); text on\n"
      "                         stderr; questions are answered by --yes/--no, else No\n"
      "verify:\n"
      "  --verify               read back what a write put into the decoder (default)\n"
      "  --no-verify            do not read back after writing\n"
      "  --full-write           write-firmware, write-data-area: write everything, even what\n"
      "                         already holds the file (default: only what differs)\n"
      "  --connect              poke, peek, script: connect first, disconnect after\n"
      "backup:\n"
      "  --backup FILE, -b FILE write-firmware, write-data-area: save what they overwrite to FILE\n"
      "                         (must not exist; default: a new backup-MODEL-REGION-DATE-TIME.bin\n"
      "                         beside the firmware log, in ~/.local/share/corvane)\n"
      "  --no-backup            write without saving the old contents first\n"
      "  --version, -V          the program's name and release\n"
      "  --help, -h             this text\n"
      "  Short options stand alone (-q -y, not -qy); -mTS1 is -m TS1.\n"
      "commands:\n";
  std::set<std::string> said;
  for (const CommandRow& row : CommandTable()) {
    if (!said.insert(row.verb).second) continue;
    const std::string synopsis = Synopsis(row);
    std::string help = row.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1)) {
      help.insert(at + 1, 25, ' ');
    }
    text += "  " + Pad(synopsis, 22) + (synopsis.size() >= 22 ? "   " : " ") + help + "\n";
  }
  text += "  " + Pad("models", 22) + " list the decoder models and what each offers\n";
  text +=
      "exit status: 0 done, 1 the command failed, 2 usage error (nothing was sent to the\n"
      "decoder), 3 stopped by the user (Ctrl-C, SIGTERM, SIGHUP)\n";
  return text;
}

std::vector<ModelFacts> AllModelFacts() {
  std::vector<ModelFacts> all;
  for (const Profile& p : kProfiles) {
    const FlashModel& flash = FlashModelOf(p.model);
    ModelFacts facts{&p, flash.base, 4 * flash.words, 0, 0, false, p.EepromLastAddress + 1, {}};
    if (p.dataArea.readBytes != 0) {
      facts.dataStart = p.dataArea.readStart;
      facts.dataBytes = p.dataArea.readBytes;
    } else if (flash.dataArea.words != 0) {
      facts.dataStart = flash.base;
      facts.dataBytes = 4 * flash.dataArea.words;
      facts.dataInFlash = true;
    }
    for (const CommandRow& row : CommandTable()) {
      if (!Offered(row.id, p.model)) continue;
      if (facts.verbs.empty() || facts.verbs.back() != row.verb) facts.verbs.push_back(row.verb);
    }
    all.push_back(std::move(facts));
  }
  return all;
}

std::string ModelsTable() {
  const std::vector<ModelFacts> all = AllModelFacts();
  // What every model offers goes once below the table; the rows say what sets them apart.
  std::vector<std::string> common = all.front().verbs;
  std::erase_if(common, [&](const std::string& verb) {
    for (const ModelFacts& m : all) {
      if (std::find(m.verbs.begin(), m.verbs.end(), verb) == m.verbs.end()) return true;
    }
    return false;
  });
  std::string table = Pad("Model", 14) + Pad("Flash", 18) + Pad("Data area", 29) +
                      Pad("EEPROM", 8) + "Also offers\n";
  for (const ModelFacts& m : all) {
    std::string data = "none";
    if (m.dataBytes) {
      data = SizeText(m.dataBytes) + " at " + Hex8(m.dataStart) + (m.dataInFlash ? " in flash" : "");
    }
    std::string offers;
    for (const std::string& verb : m.verbs) {
      if (std::find(common.begin(), common.end(), verb) != common.end()) continue;
      offers += (offers.empty() ? "" : ", ") + verb;
    }
    table += Pad(m.profile->caption, 14) +
             Pad(SizeText(m.flashBytes) + " at " + Hex8(m.flashBase), 18) + Pad(data, 29) +
             Pad(SizeText(m.eepromBytes), 8) + (offers.empty() ? "-" : offers) + "\n";
  }
  std::string line = "Every model offers";
  for (size_t i = 0; i < common.size(); ++i) {
    const std::string word = " " + common[i] + (i + 1 == common.size() ? ".\n" : ",");
    if (line.size() + word.size() > 80) {
      table += line + "\n";
      line = " ";
    }
    line += word;
  }
  return table + line;
}

bool WantsJson(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--json") return true;
  }
  return false;
}

ParsedArgs ParseArgs(const std::vector<std::string>& args) {
  CliOptions o;
  bool help = false;
  bool yes = false, no = false, verify = false, noVerify = false;
  bool haveBackup = false, noBackup = false;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  for (ArgReader reader(args); !reader.done(); reader.Next()) {
    const std::string& arg = reader.word();
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (const auto taken = TakeTargetOption(reader, &o.target)) {
      if (!taken->empty()) return *taken;
      continue;
    }
    const ShortOption* brief = ShortOf(arg);
    const std::string name = brief ? brief->name : reader.name();
    if (name == "--model" || name == "--backup" || name == "--simulate" || name == "--port") {
      std::string error;
      std::optional<std::string> value;
      if (brief && arg.size() > 2) {
        value = arg.substr(2);
      } else if (!(value = reader.Value(&error))) {
        return error;
      }
      if (name == "--simulate" || name == "--port") {
        // Only the short forms get here: read as their long forms are.
        const std::vector<std::string> longForm = {name + "=" + *value};
        ArgReader target(longForm);
        if (const auto taken = TakeTargetOption(target, &o.target); taken && !taken->empty()) {
          return *taken;
        }
      } else if (name == "--backup") {
        if (haveBackup) return "option --backup given twice";
        haveBackup = true;
        o.backup = *value;
      } else {
        if (o.modelGiven) return "option --model given twice";
        const auto model = ModelFromName(*value);
        if (!model) {
          return "unknown model " + Quoted(*value) + ": " + ModelNames() +
                 " (see: corvane-cli models)";
        }
        o.profile.model = *model;
        o.modelGiven = true;
      }
      continue;
    }

    bool noWriteDataArea = false;
    bool* flag = nullptr;
    if (name == "--erase-data-area") flag = &o.profile.eraseDataArea;
    else if (name == "--no-write-data-area") flag = &noWriteDataArea;
    else if (name == "--reloaded") flag = &o.profile.reloaded;
    else if (name == "--yes") flag = &yes;
    else if (name == "--no") flag = &no;
    else if (name == "--stats") flag = &o.stats;
    else if (name == "--quiet") flag = &o.quiet;
    else if (name == "--verbose") flag = &o.verbose;
    else if (name == "--json") flag = &o.json;
    else if (name == "--verify") flag = &verify;
    else if (name == "--no-verify") flag = &noVerify;
    else if (name == "--full-write") flag = &o.fullWrite;
    else if (name == "--connect") flag = &o.connect;
    else if (name == "--no-backup") flag = &noBackup;
    else if (name == "--version") flag = &o.version;
    else if (name == "--help") flag = &help;
    if (!flag) return UnknownOptionText(name, kProgram);
    if (!brief && reader.HasJoinedValue()) return "option " + name + " takes no value";
    *flag = true;
    if (flag == &noWriteDataArea) o.profile.writeDataArea = false;
  }

  if (help || o.version) {
    o.help = help;
    return o;
  }

  if (yes && no) return "--yes and --no cannot be used together";
  if (yes || no) o.answer = yes;
  if (verify && noVerify) return "--verify and --no-verify cannot be used together";
  if (haveBackup && noBackup) return "--backup and --no-backup cannot be used together";
  if (noBackup) o.backup.reset();
  o.verify = !noVerify;

  if (const std::string problem = CheckTargetOptions(o.target); !problem.empty()) return problem;
  if (o.stats && !o.target.simulated()) {
    return "--stats needs --simulate (it counts the virtual decoder's traffic)";
  }

  if (positional.empty()) return "no command given (see: corvane-cli --help)";
  const std::string& command = positional[0];
  size_t operands = positional.size() - 1;
  if (command == "help" || command == "models") {
    if (operands > 0) return "unexpected argument " + Quoted(positional[1]) + " after " + command;
    (command == "help" ? o.help : o.models) = true;
    return o;
  }
  const auto rows = RowsOfVerb(command);
  if (rows.empty()) return "unknown command " + Quoted(command) + " (see: corvane-cli --help)";
  const CommandRow* row = rows.front();
  const std::string synopsis = Synopsis(*row);
  const int count = OperandCount(*row);

  if (row->id == CommandId::LinkTest && operands == 1) {
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
    operands = 0;
  }
  if (operands < static_cast<size_t>(count)) return command + " needs" + synopsis.substr(command.size());
  if (operands > static_cast<size_t>(count)) {
    return "unexpected argument " + Quoted(positional[count + 1]) + " after " + synopsis;
  }

  if (o.connect && row->id != CommandId::Poke && row->id != CommandId::Peek &&
      row->id != CommandId::Script) {
    return std::string("--connect is for poke, peek and script (") + row->verb +
           " connects by itself)";
  }

  if (row->region) {
    row = nullptr;
    for (const CommandRow* r : rows) {
      if (EqualsNoCase(r->region, positional[1])) row = r;
    }
    if (!row) {
      return "unknown ramdump " + Quoted(positional[1]) + " (" + RegionNames(", ", " or ") + ")";
    }
    o.file = positional[2];
  } else if (row->id == CommandId::Poke || row->id == CommandId::Peek) {
    const auto address = ParseHexField(positional[1]);
    if (!address) return "invalid address " + Quoted(positional[1]) + " (" + kHexRule + ")";
    o.address = *address;
    if (row->id == CommandId::Poke) {
      const auto value = ParseHexField(positional[2]);
      if (!value) return "invalid value " + Quoted(positional[2]) + " (" + kHexRule + ")";
      o.value = *value;
    }
  } else if (count == 1) {
    o.file = positional[1];
  }
  o.command = row->id;

  // An empty name would only fail once the whole transfer has been read.
  if ((row->region || count == 1) && row->id != CommandId::Peek && o.file.empty()) {
    return std::string(row->verb) + " needs a FILE name that is not empty";
  }

  // The model decides the set-up and every command value a write sends.
  if (row->writes && !o.modelGiven) {
    return std::string(row->verb) +
           " changes the decoder: name its model with --model NAME (-m NAME); a wrong model's "
           "set-up and command values are wrong on the wire (see: corvane-cli models)";
  }
  if (!Offered(row->id, o.profile.model)) {
    return std::string(row->verb) + " is not offered for " + o.profile.profile().caption;
  }
  return o;
}

}  // namespace corvane::cli
