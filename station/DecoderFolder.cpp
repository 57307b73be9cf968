#include "station/DecoderFolder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <variant>

#include "eeprom/EepromCommands.h"
#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Text.h"
#include "target/Connection.h"
#include "target/Files.h"
#include "target/Sha256.h"
#include "target/Version.h"
#include "transfer/DataArea.h"
#include "transfer/Firmware.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

// --- decoder.json --------------------------------------------------------------------------

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\u%04x", c);
          out += hex;
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  return out + "\"";
}

// Just enough JSON for the manifest: objects, arrays, strings, whole numbers, true/false.
struct Json;
using JsonObject = std::map<std::string, Json>;
using JsonArray = std::vector<Json>;
struct Json {
  std::variant<std::nullptr_t, bool, double, std::string, JsonArray, JsonObject> v;
};

class JsonReader {
 public:
  explicit JsonReader(const std::string& text) : t_(text) {}
  std::optional<Json> Document() {
    auto value = Value(0);
    Space();
    if (!value || i_ != t_.size()) return std::nullopt;
    return value;
  }

 private:
  void Space() {
    while (i_ < t_.size() && std::isspace(static_cast<unsigned char>(t_[i_]))) ++i_;
  }
  bool Take(char c) {
    Space();
    if (i_ < t_.size() && t_[i_] == c) {
      ++i_;
      return true;
    }
    return false;
  }
  bool Word(const char* w) {
    const size_t n = std::strlen(w);
    if (t_.compare(i_, n, w) != 0) return false;
    i_ += n;
    return true;
  }
  std::optional<std::string> String() {
    if (!Take('"')) return std::nullopt;
    std::string out;
    while (i_ < t_.size() && t_[i_] != '"') {
      char c = t_[i_++];
      if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (i_ >= t_.size()) return std::nullopt;
      c = t_[i_++];
      switch (c) {
        case '"': case '\\': case '/': out += c; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (i_ + 4 > t_.size()) return std::nullopt;
          unsigned code = 0;
          for (int k = 0; k < 4; ++k) {
            const char h = t_[i_++];
            if (!std::isxdigit(static_cast<unsigned char>(h))) return std::nullopt;
            code = code * 16 + static_cast<unsigned>(std::isdigit(static_cast<unsigned char>(h))
                                                           ? h - '0'
                                                           : (std::tolower(h) - 'a' + 10));
          }
          // Names in the manifest are ASCII; anything else is kept as UTF-8.
          if (code < 0x80) {
            out += static_cast<char>(code);
          } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
          } else {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
          }
          break;
        }
        default: return std::nullopt;
      }
    }
    if (i_ >= t_.size()) return std::nullopt;
    ++i_;
    return out;
  }
  std::optional<Json> Value(int depth) {
    if (depth > 8) return std::nullopt;
    Space();
    if (i_ >= t_.size()) return std::nullopt;
    const char c = t_[i_];
    if (c == '"') {
      auto s = String();
      if (!s) return std::nullopt;
      return Json{*s};
    }
    if (c == '{') {
      ++i_;
      JsonObject object;
      if (Take('}')) return Json{object};
      do {
        Space();
        auto key = String();
        if (!key || !Take(':')) return std::nullopt;
        auto value = Value(depth + 1);
        if (!value || object.count(*key)) return std::nullopt;
        object.emplace(*key, std::move(*value));
      } while (Take(','));
      if (!Take('}')) return std::nullopt;
      return Json{object};
    }
    if (c == '[') {
      ++i_;
      JsonArray array;
      if (Take(']')) return Json{array};
      do {
        auto value = Value(depth + 1);
        if (!value) return std::nullopt;
        array.push_back(std::move(*value));
      } while (Take(','));
      if (!Take(']')) return std::nullopt;
      return Json{array};
    }
    if (Word("true")) return Json{true};
    if (Word("false")) return Json{false};
    if (Word("null")) return Json{nullptr};
    size_t end = i_;
    while (end < t_.size() && (std::isdigit(static_cast<unsigned char>(t_[end])) || t_[end] == '-')) ++end;
    if (end == i_) return std::nullopt;
    const std::string digits = t_.substr(i_, end - i_);
    i_ = end;
    char* stop = nullptr;
    const double number = std::strtod(digits.c_str(), &stop);
    if (*stop != '\0') return std::nullopt;
    return Json{number};
  }

  const std::string& t_;
  size_t i_ = 0;
};

template <class T>
const T* Field(const JsonObject& o, const char* name) {
  const auto it = o.find(name);
  return it == o.end() ? nullptr : std::get_if<T>(&it->second.v);
}

bool SafeFileName(const std::string& name) {
  return !name.empty() && name.size() < 64 && name.find('/') == std::string::npos &&
         name[0] != '.';
}

// --- running the ordinary commands for one step -----------------------------------------------

// One command of a whole-decoder job: its file dialog gets the folder's file, its completion
// message is kept for the summary, a write does not ask again to start, and everything else
// reaches the user.
class StepHost final : public ForwardingHost {
 public:
  StepHost(Host& inner, std::string path, std::string step, bool publish)
      : ForwardingHost(inner), path_(std::move(path)), step_(std::move(step)), publish_(publish) {}

  Answer MessageBox(MessageKind kind, const std::string& text, Buttons buttons) override {
    if (kind == MessageKind::Information && buttons == Buttons::Ok) {
      done_.push_back(text);
      return Answer::Ok;
    }
    if (kind == MessageKind::Error) failed_ = true;
    const Answer answer = inner_.MessageBox(kind, text, buttons);
    if (buttons == Buttons::YesNo && answer == Answer::Yes && text.rfind("Stop ", 0) == 0) {
      stopped_ = true;
    }
    return answer;
  }
  std::optional<std::string> RunDialog(Dialog) override { return path_; }
  Answer AnnounceDuration(const std::string& text, bool) override {
    return inner_.AnnounceDuration(step_ + ": " + text, false);
  }
  void SetPhase(const std::string& name, int sharePercent) override {
    inner_.SetPhase(name.empty() ? name : step_ + ": " + name, sharePercent);
  }
  void FileWritten(const std::string& path) override {
    if (publish_) inner_.FileWritten(path);
  }

  // The command ended with its completion message, no error and no stop.
  bool completed() const { return !done_.empty() && !failed_ && !stopped_; }
  bool stopped() const { return stopped_; }
  const std::vector<std::string>& done() const { return done_; }

 private:
  std::string path_, step_;
  bool publish_;
  std::vector<std::string> done_;
  bool failed_ = false, stopped_ = false;
};


// Runs command on the session's decoder as its own command, with path as its file. The
// step's completion texts; nothing when it failed or was stopped (it has said why).
std::optional<std::vector<std::string>> RunStep(Session& s, const std::string& step,
                                                void (*command)(Session&),
                                                const std::string& path,
                                                bool* stopped = nullptr,
                                                bool writeDataArea = false, bool publish = true) {
  StepHost host(s.host, path, step, publish);
  Session sub{s.link, s.ee, host, s.profile, s.loaderDir, s.logDir};
  sub.verifyAfterWrite = s.verifyAfterWrite;
  sub.backup = s.backup;
  sub.linkCost = s.linkCost;
  sub.linkCostPath = s.linkCostPath;
  sub.shellCommand = s.shellCommand;
  sub.fullWrite = s.fullWrite;
  // A DSX6071/6072 image holds its data area: the saved flash goes back whole.
  if (writeDataArea) sub.profile.writeDataArea = true;
  command(sub);
  s.details.insert(s.details.end(), sub.details.begin(), sub.details.end());
  s.linkCost = sub.linkCost;
  s.linkNoise += sub.linkNoise;
  // Not passed on: the way back from a restore that failed is running it again.
  if (stopped) *stopped = host.stopped();
  if (!host.completed()) return std::nullopt;
  return host.done();
}

// What the flash chips answer, as the catalogue names them ("" where the model's flash is
// never commanded); nothing after a message when the decoder did not answer.
std::optional<std::string> ChipsOf(Session& s) {
  const FlashModel& f = FlashModelOf(s.model());
  if (!f.commanded || f.method == WriteMethod::RamLoader) return std::string();
  std::optional<std::string> chips;
  RunCommand(s, [&] {
    if (!Connect(s)) return;
    StatusGuard status(s.host);
    ConnectionGuard connection(s);
    s.host.SetStatus("Reading the flash chips' identification...");
    const ChipId id = ReadChipId(s);
    if (!id.agreed) {
      s.host.MessageBox(MessageKind::Error,
                        "The flash chips' identification read differently each time: the link "
                        "corrupts data. Check the cable and the port with the link test (" +
                            s.shellCommand + " link-test).",
                        Buttons::Ok);
      return;
    }
    const ChipPart* part = IdentifyChip(f, id);
    chips = part ? std::string(part->name) : "maker " + Hex8(id.manufacturer) + " device " + Hex8(id.device);
  });
  return chips;
}

bool HasDataAreaFile(Model m) { return ProfileOf(m).dataArea.loader != nullptr; }

std::string ErrnoText() { return std::strerror(errno); }

void Error(Session& s, const std::string& text) {
  s.host.MessageBox(MessageKind::Error, text, Buttons::Ok);
}

}  // namespace

std::string ManifestText(const DecoderManifest& m) {
  std::string out = "{\n";
  out += "  \"corvane\": " + JsonString(m.version) + ",\n";
  out += "  \"saved\": " + JsonString(m.saved) + ",\n";
  out += "  \"model\": " + JsonString(m.model) + ",\n";
  out += std::string("  \"reloaded\": ") + (m.reloaded ? "true" : "false") + ",\n";
  out += "  \"chips\": " + JsonString(m.signature) + ",\n";
  out += "  \"files\": [";
  for (size_t i = 0; i < m.files.size(); ++i) {
    const DecoderFile& f = m.files[i];
    out += std::string(i ? "," : "") + "\n    {\"name\": " + JsonString(f.name) +
           ", \"bytes\": " + std::to_string(f.bytes) + ", \"sha256\": " + JsonString(f.sha256) +
           "}";
  }
  out += "\n  ]\n}\n";
  return out;
}

std::optional<DecoderManifest> ParseManifest(const std::string& text, std::string* error) {
  const auto doc = JsonReader(text).Document();
  const JsonObject* o = doc ? std::get_if<JsonObject>(&doc->v) : nullptr;
  if (!o) {
    *error = "it is not a decoder manifest (not JSON)";
    return std::nullopt;
  }
  DecoderManifest m;
  const auto* version = Field<std::string>(*o, "corvane");
  const auto* model = Field<std::string>(*o, "model");
  const auto* chips = Field<std::string>(*o, "chips");
  const auto* files = Field<JsonArray>(*o, "files");
  if (!version || !model || !chips || !files) {
    *error = "it lacks \"corvane\", \"model\", \"chips\" or \"files\"";
    return std::nullopt;
  }
  m.version = *version;
  m.model = *model;
  m.signature = *chips;
  if (const auto* saved = Field<std::string>(*o, "saved")) m.saved = *saved;
  if (const auto* reloaded = Field<bool>(*o, "reloaded")) m.reloaded = *reloaded;
  for (const Json& entry : *files) {
    const auto* f = std::get_if<JsonObject>(&entry.v);
    const auto* name = f ? Field<std::string>(*f, "name") : nullptr;
    const auto* bytes = f ? Field<double>(*f, "bytes") : nullptr;
    const auto* sha = f ? Field<std::string>(*f, "sha256") : nullptr;
    if (!name || !bytes || !sha || !SafeFileName(*name) || *bytes < 0 || *bytes > 1e12 ||
        sha->size() != 64) {
      *error = "a file entry lacks a plain name, its size or its SHA-256";
      return std::nullopt;
    }
    m.files.push_back({*name, static_cast<uint64_t>(*bytes), *sha});
  }
  return m;
}

void SaveDecoder(Session& s) {
  const auto chosen = [&] {
    FilterGuard filter(s.host, Dialog::Save, "Decoder folder (a new folder's name)|*");
    return s.host.RunDialog(Dialog::Save);
  }();
  if (!chosen) return;
  std::string dir = *chosen;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  std::error_code ec;
  if (fs::exists(fs::symlink_status(dir, ec)) &&
      (!fs::is_directory(fs::symlink_status(dir, ec)) || !fs::is_empty(dir, ec))) {
    Error(s, "Cannot save the decoder into " + dir +
                 ": it exists and is not an empty folder. Name a new folder; nothing was read.");
    return;
  }
  // Built beside its final name and renamed at the end: a folder that is there is whole.
  const fs::path parent = fs::path(dir).has_parent_path() ? fs::path(dir).parent_path() : ".";
  std::string pattern = (parent / ("." + fs::path(dir).filename().string() + ".partial-XXXXXX")).string();
  if (!::mkdtemp(pattern.data())) {
    Error(s, "Cannot create a folder beside " + dir + ": " + ErrnoText() + ". Nothing was read.");
    return;
  }
  const std::string work = pattern;
  struct Cleanup {
    std::string path;
    ~Cleanup() {
      if (!path.empty()) {
        std::error_code e;
        fs::remove_all(path, e);
      }
    }
  } cleanup{work};

  DecoderManifest m;
  m.version = kVersion;
  m.model = s.profileRow().caption;
  m.reloaded = s.profile.reloaded;
  const auto chips = ChipsOf(s);
  if (!chips) return;
  m.signature = *chips;

  struct Step {
    const char* name;
    const char* file;
    void (*command)(Session&);
    bool wanted;
  };
  const Step steps[] = {
      {"firmware", "firmware.bin", ReadFirmware, true},
      {"data area", "data-area.bin", ReadDataArea, HasDataAreaFile(s.model())},
      {"EEPROM", "eeprom.bin", ReadEeprom, true},
  };
  for (const Step& step : steps) {
    if (!step.wanted) continue;
    const std::string path = work + "/" + step.file;
    if (!RunStep(s, step.name, step.command, path, nullptr, false, false)) {
      Error(s, std::string("The decoder was not saved: reading its ") + step.name +
                   " did not complete. Nothing was kept.");
      return;
    }
    std::string error;
    const auto sum = Sha256OfFile(path, &error);
    if (!sum) {
      Error(s, error + ". The decoder was not saved.");
      return;
    }
    m.files.push_back({step.file, static_cast<uint64_t>(fs::file_size(path, ec)), *sum});
  }
  m.saved = TimeStamp("%Y-%m-%dT%H:%M:%SZ", true);
  {
    std::ofstream out(work + "/" + kManifestName, std::ios::binary);
    out << ManifestText(m);
    out.flush();
    if (!out) {
      Error(s, "Cannot write " + std::string(kManifestName) + " in " + dir + ": " + ErrnoText() +
                   ". The decoder was not saved.");
      return;
    }
  }
  if (fs::is_directory(dir, ec)) fs::remove(dir, ec);  // the empty folder it was asked for
  if (::rename(work.c_str(), dir.c_str()) != 0) {
    Error(s, "Cannot name the folder " + dir + ": " + ErrnoText() + ". The decoder was not saved.");
    return;
  }
  cleanup.path.clear();
  for (const DecoderFile& f : m.files) s.host.FileWritten(dir + "/" + f.name);
  s.host.FileWritten(dir + "/" + kManifestName);
  std::string names;
  for (const DecoderFile& f : m.files) names += f.name + ", ";
  s.host.MessageBox(MessageKind::Information,
                    "The " + m.model + " is saved in " + dir + ": " + names + kManifestName + ".",
                    Buttons::Ok);
}

void RestoreDecoder(Session& s) {
  const auto chosen = [&] {
    FilterGuard filter(s.host, Dialog::Open, "Saved decoder (decoder.json)|decoder.json");
    return s.host.RunDialog(Dialog::Open);
  }();
  if (!chosen) return;
  std::string dir = *chosen;
  if (fs::path(dir).filename() == kManifestName) dir = fs::path(dir).parent_path().string();
  if (dir.empty()) dir = ".";
  const std::string refused = " Nothing was written.";

  std::ifstream in(dir + "/" + kManifestName, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  if (!in || text.str().size() > 65536) {
    Error(s, "Cannot read " + dir + "/" + kManifestName + ": it is not a folder saved with Save "
             "Decoder." + refused);
    return;
  }
  std::string error;
  const auto m = ParseManifest(text.str(), &error);
  if (!m) {
    Error(s, "Cannot restore from " + dir + ": " + kManifestName + " " + error + "." + refused);
    return;
  }
  if (!EqualsNoCase(m->model, s.profileRow().caption) || m->reloaded != s.profile.reloaded) {
    Error(s, dir + " holds a " + m->model + (m->reloaded ? " (Reloaded)" : "") +
                 ", and the decoder selected is a " + s.profileRow().caption +
                 (s.profile.reloaded ? " (Reloaded)" : "") +
                 ": a decoder is restored only from its own model's folder." + refused);
    return;
  }
  std::map<std::string, std::string> paths;
  for (const DecoderFile& f : m->files) {
    const std::string path = dir + "/" + f.name;
    std::error_code ec;
    const auto bytes = fs::file_size(path, ec);
    const auto sum = ec ? std::nullopt : Sha256OfFile(path, &error);
    if (ec || !sum) {
      Error(s, "Cannot restore from " + dir + ": " + f.name + " is missing or cannot be read." + refused);
      return;
    }
    if (bytes != f.bytes || *sum != f.sha256) {
      Error(s, "Cannot restore from " + dir + ": " + f.name + " has changed since the decoder was "
               "saved (its size or SHA-256 differs from " + kManifestName + ")." + refused);
      return;
    }
    paths[f.name] = path;
  }
  if (!paths.count("firmware.bin") || !paths.count("eeprom.bin") ||
      (HasDataAreaFile(s.model()) && !paths.count("data-area.bin"))) {
    Error(s, "Cannot restore from " + dir + ": a file a " + m->model + " needs is not listed in " +
             kManifestName + "." + refused);
    return;
  }
  const auto chips = ChipsOf(s);
  if (!chips) return;
  if (*chips != m->signature) {
    Error(s, "Cannot restore from " + dir + ": the decoder's flash chips answer as " +
                 (chips->empty() ? std::string("nothing") : *chips) + ", and the saved ones as " +
                 m->signature + ": this is not the decoder that was saved, or its flash was "
                 "changed." + refused);
    return;
  }
  if (s.host.AnnounceDuration("Restore the " + m->model + " from " + dir + " (saved " + m->saved +
                                  "): its firmware" +
                                  (HasDataAreaFile(s.model()) ? ", data area" : "") +
                                  " and EEPROM are written back where they differ.",
                              true) != Answer::Yes) {
    return;
  }

  std::vector<std::string> said;
  bool stopped = false;
  auto step = [&](const std::string& name, void (*command)(Session&), const std::string& path,
                  bool writeDataArea = false) {
    const auto done = RunStep(s, name, command, path, &stopped, writeDataArea);
    if (!done) return false;
    for (const std::string& line : *done) said.push_back(name + ": " + line);
    return true;
  };
  bool good = step("firmware", WriteFirmware, paths["firmware.bin"], true);
  if (good && HasDataAreaFile(s.model())) good = step("data area", WriteDataArea, paths["data-area.bin"]);
  if (good) {
    // The EEPROM is written only where it differs: read it first.
    char scratch[] = "/tmp/corvane-eeprom-XXXXXX";
    const int fd = ::mkstemp(scratch);
    if (fd >= 0) ::close(fd);
    const std::string now = fd >= 0 ? scratch : "";
    bool same = false;
    if (!now.empty() && RunStep(s, "EEPROM", ReadEeprom, now, &stopped, false, false)) {
      std::string a, b;
      const auto sumNow = Sha256OfFile(now, &a);
      same = sumNow && *sumNow == [&] {
        for (const DecoderFile& f : m->files) {
          if (f.name == "eeprom.bin") return f.sha256;
        }
        return std::string();
      }();
    }
    if (!now.empty()) ::unlink(now.c_str());
    if (stopped) {
      good = false;
    } else if (same) {
      said.push_back("EEPROM: it already holds eeprom.bin: nothing was written.");
    } else {
      good = step("EEPROM", WriteEeprom, paths["eeprom.bin"]);
    }
  }
  if (!good) {
    Error(s, std::string("The ") + m->model + " was not fully restored from " + dir +
                 (stopped ? ": it was stopped." : ": a step failed (see the message before).") +
                 " Run Restore Decoder again: it writes only what still differs.");
    return;
  }
  std::string summary = "The " + m->model + " is restored from " + dir + ".";
  for (const std::string& line : said) summary += "\n" + line;
  s.host.MessageBox(MessageKind::Information, summary, Buttons::Ok);
}

}  // namespace corvane
