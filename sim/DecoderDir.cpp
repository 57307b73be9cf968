#include "sim/DecoderDir.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "sim/FlashBoard.h"
#include "sim/VirtualLoader.h"

namespace corvane::sim {

namespace fs = std::filesystem;

namespace {

constexpr const char* kConfName = "decoder.conf";

struct KeyRule {
  const char* key;
  int64_t DecoderSettings::*field;
  int64_t minimum, maximum;
};

// eeprom_present, cable, bidirectional and eeprom_write_protect are handled on their own.
constexpr KeyRule kRules[] = {
    {"port_access_us", &DecoderSettings::portAccessUs, 1, 1000000},
    {"link_byte_us", &DecoderSettings::linkByteUs, 0, 1000000},
    {"dead_after_bytes", &DecoderSettings::deadAfterBytes, 0, INT64_MAX},
    {"loader_seconds", &DecoderSettings::loaderSeconds, 0, 3600},
    {"eeprom_busy_ms", &DecoderSettings::eepromBusyMs, 0, 1000},
    {"eeprom_never_ready", &DecoderSettings::eepromNeverReady, 0, 1},
    {"eeprom_acks", &DecoderSettings::eepromAcks, 0, INT64_MAX},
    {"flip_bits_every", &DecoderSettings::flipBitsEvery, 0, INT64_MAX},
    {"unplug_after_bytes", &DecoderSettings::unplugAfterBytes, 0, INT64_MAX},
};

// The keys the flash board documents: "key =" at the start of a line, commented or not.
std::set<std::string> FlashKeys(const std::string& defaults) {
  std::set<std::string> keys = {"flash_maker", "flash_device", "flash_id", "protected_sectors",
                                "stuck_bits"};
  std::istringstream in(defaults);
  std::string line;
  while (std::getline(in, line)) {
    size_t i = 0;
    while (i < line.size() && (line[i] == '#' || line[i] == ' ' || line[i] == '\t')) ++i;
    size_t j = i;
    while (j < line.size() && (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_')) ++j;
    size_t k = j;
    while (k < line.size() && (line[k] == ' ' || line[k] == '\t')) ++k;
    if (j > i && k < line.size() && line[k] == '=') keys.insert(line.substr(i, j - i));
  }
  return keys;
}

bool ReadWholeFile(const fs::path& path, std::vector<uint8_t>* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path.string() + ": cannot be read (" + std::strerror(errno) + ")";
    return false;
  }
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (in.bad()) {
    *error = path.string() + ": read error";
    return false;
  }
  return true;
}

// An image file of a fixed size: created filled with `fill` when missing.
bool OpenImage(const fs::path& path, size_t size, uint8_t fill, const char* what,
               std::vector<uint8_t>* out, std::string* error) {
  std::error_code ec;
  if (!fs::exists(path, ec)) {
    out->assign(size, fill);
    // A fresh erased file needs no flush: if a crash lost it, it is simply made again.
    return WriteFileAtomically(path.string(), *out, error, false);
  }
  if (!ReadWholeFile(path, out, error)) return false;
  if (out->size() != size) {
    *error = path.string() + " is " + std::to_string(out->size()) + " bytes; " + what + " is " +
             std::to_string(size) + " bytes";
    return false;
  }
  return true;
}

}  // namespace

std::string DefaultDecoderConf(const DecoderModel& model) {
  std::string s;
  s += "# Virtual decoder \"" + std::string(model.caption) + "\".\n";
  s += "# One \"key = value\" per line; '#' starts a comment. Numbers are decimal, or\n";
  s += "# hexadecimal with 0x. A key left out takes the value shown here.\n";
  s += "#\n";
  s += "# Beside this file: flash.bin (the flash, file offset = address - flash base, bytes in\n";
  s += "# address order), data.bin (the data area, where the model has one), eeprom.bin, the\n";
  s += "# virtual loaders, and ram.bin once RAM holds data: one record per 64 KB page that is\n";
  s += "# not all zero, its address as 4 bytes least significant first, then the 65536 bytes.\n\n";
  s += "# Virtual microseconds one parallel-port register access takes (at least 1).\n";
  s += "port_access_us = 1\n\n";
  s += "# Virtual microseconds one byte takes on the decoder's serial boot link; the adapter\n";
  s += "# raises Select and a reply byte arrives only after it.\n";
  s += "link_byte_us = 3\n\n";
  s += "# The adapter stops answering after this many bytes from the PC: no Select, no\n";
  s += "# reply bytes. 0 = never.\n";
  s += "dead_after_bytes = 0\n\n";
  s += "# plugged, or unplugged: no adapter on the port; its status inputs float high and\n";
  s += "# nothing the port writes reaches the decoder.\n";
  s += "cable = plugged\n\n";
  s += "# The cable is pulled right after this many bytes from the PC. 0 = never.\n";
  s += "unplug_after_bytes = 0\n\n";
  s += "# 1 = the PC's port can turn its data lines to input (a bidirectional, byte-mode port).\n";
  s += "# 0 = it cannot (an SPP-only card, or a BIOS set to \"Normal\"): the direction bit does\n";
  s += "# nothing and the data register reads back what the PC last wrote to it.\n";
  s += "bidirectional = 1\n\n";
  s += "# Virtual seconds a loader takes to copy its RAM image; the boot link is silent\n";
  s += "# meanwhile.\n";
  s += "loader_seconds = 3\n\n";
  s += "# 1 = a serial EEPROM sits on the PIO pins; 0 = nothing answers on that bus.\n";
  s += "eeprom_present = 1\n\n";
  s += "# Write cycle of the EEPROM in milliseconds; it does not acknowledge meanwhile.\n";
  s += "eeprom_busy_ms = 5\n\n";
  s += "# 1 = the EEPROM's write-protect pin is tied high: it acknowledges its control and\n";
  s += "# address bytes but no data byte, and keeps what it holds. ack = the same pin on a\n";
  s += "# part that acknowledges every byte, data too, and ignores the write.\n";
  s += "eeprom_write_protect = 0\n\n";
  s += "# 1 = a failed EEPROM: the first write cycle never ends, so it never acknowledges\n";
  s += "# again.\n";
  s += "eeprom_never_ready = 0\n\n";
  s += "# The EEPROM acknowledges only this many bytes after the virtual decoder is opened,\n";
  s += "# then falls silent, as with a loose contact. 0 = no limit.\n";
  s += "eeprom_acks = 0\n\n";
  s += "# Every Nth byte from the decoder arrives with one bit flipped. 0 = never.\n";
  s += "flip_bits_every = 0\n\n";
  s += FlashConfDefaults(model.caption);
  if (!s.empty() && s.back() != '\n') s += '\n';
  return s;
}

bool ReadSettings(const Conf& conf, const std::string& flashDefaults, DecoderSettings* out,
                  std::string* error) {
  DecoderSettings s;
  const std::set<std::string> flashKeys = FlashKeys(flashDefaults);
  for (const auto& [key, value] : conf.values()) {
    bool known = key == "eeprom_present" || key == "cable" || key == "bidirectional" ||
                 key == "eeprom_write_protect" || flashKeys.count(key);
    for (const KeyRule& rule : kRules) known = known || key == rule.key;
    if (!known) {
      *error = "unknown key " + key;
      return false;
    }
  }
  for (const KeyRule& rule : kRules) {
    const auto text = conf.Get(rule.key);
    if (!text) continue;
    const auto v = Conf::ParseInt(*text);
    if (!v || *v < rule.minimum || *v > rule.maximum) {
      *error = std::string(rule.key) + " = " + *text + ": expected a whole number from " +
               std::to_string(rule.minimum) +
               (rule.maximum == INT64_MAX ? " up" : " to " + std::to_string(rule.maximum));
      return false;
    }
    s.*rule.field = *v;
  }
  for (const auto& [key, flag] : {std::pair{"eeprom_present", &DecoderSettings::eepromPresent},
                                  std::pair{"bidirectional", &DecoderSettings::bidirectional}}) {
    const auto text = conf.Get(key);
    if (!text) continue;
    const auto v = Conf::ParseInt(*text);
    if (!v || (*v != 0 && *v != 1)) {
      *error = std::string(key) + " = " + *text + ": expected 1 or 0";
      return false;
    }
    s.*flag = *v == 1;
  }
  if (const auto text = conf.Get("eeprom_write_protect")) {
    const auto v = Conf::ParseInt(*text);
    if (*text == "ack") {
      s.eepromWriteProtect = WriteProtect::IgnoreData;
    } else if (v && (*v == 0 || *v == 1)) {
      s.eepromWriteProtect = *v == 1 ? WriteProtect::RefuseData : WriteProtect::Off;
    } else {
      *error = "eeprom_write_protect = " + *text + ": expected 0, 1 or ack";
      return false;
    }
  }
  if (const auto text = conf.Get("cable")) {
    if (*text != "plugged" && *text != "unplugged") {
      *error = "cable = " + *text + ": expected plugged or unplugged";
      return false;
    }
    s.cablePlugged = *text == "plugged";
  }
  *out = s;
  return true;
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error, bool durable) {
  const std::string temp = path + ".tmp";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  auto fail = [&](const std::string& what) {
    if (error) *error = path + ": " + what + " (" + std::strerror(errno) + ")";
    return false;
  };
  if (fd < 0) return fail("cannot be written");
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      ::unlink(temp.c_str());
      errno = saved;
      return fail("write failed");
    }
    done += static_cast<size_t>(n);
  }
  if ((durable && ::fsync(fd) != 0) || ::close(fd) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail("write failed");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail("cannot be replaced");
  }
  return true;
}

bool OpenDecoderDir(const std::string& dir, const DecoderModel& model, uint32_t flashSize,
                    DecoderFiles* out, std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  const fs::path folder = fs::path(dir) / model.folder;
  std::error_code ec;
  const bool existed = fs::is_directory(folder, ec);
  if (!existed) {
    fs::create_directories(folder, ec);
    if (ec) {
      *error = folder.string() + ": cannot be created (" + ec.message() + ")";
      return false;
    }
  }
  // Loaders go into the decoder's own folder only, and only when the decoder is new (no
  // flash.bin yet; a folder made just to hold a decoder.conf counts as new): a real decoder
  // must never be sent one of these, and one the user removed stays removed.
  const bool fresh = !fs::exists(folder / "flash.bin", ec);
  if (fresh) {
    for (const LoaderFile& l : model.loaders) {
      const VirtualLoader loader{l.operation, l.ramBase, l.destination, l.words};
      if (!WriteFileAtomically((folder / l.name).string(), loader.Encode(), error, false)) {
        return false;
      }
    }
  }
  DecoderFiles files;
  files.directory = folder.string();
  files.created = fresh;

  // decoder.conf first: a wrong key should stop us before any file is made.
  const fs::path confPath = folder / kConfName;
  std::string confText;
  if (fs::exists(confPath, ec)) {
    std::vector<uint8_t> raw;
    if (!ReadWholeFile(confPath, &raw, error)) return false;
    confText.assign(raw.begin(), raw.end());
  } else {
    confText = DefaultDecoderConf(model);
    const std::vector<uint8_t> raw(confText.begin(), confText.end());
    if (!WriteFileAtomically(confPath.string(), raw, error, false)) return false;
  }
  std::string why;
  if (!files.conf.Parse(confText, &why) ||
      !ReadSettings(files.conf, FlashConfDefaults(model.caption), &files.settings, &why)) {
    *error = confPath.string() + ": " + why;
    return false;
  }

  if (!OpenImage(folder / "flash.bin", flashSize, 0xFF, "the flash", &files.flash, error)) {
    return false;
  }
  if (model.dataSize != 0 &&
      !OpenImage(folder / "data.bin", model.dataSize, 0xFF, "the data area", &files.data, error)) {
    return false;
  }
  if (!OpenImage(folder / "eeprom.bin", model.eepromSize, 0xFF, "the EEPROM", &files.eeprom,
                 error)) {
    return false;
  }
  const fs::path ramPath = folder / "ram.bin";
  if (fs::exists(ramPath, ec) && !ReadWholeFile(ramPath, &files.ram, error)) return false;

  *out = std::move(files);
  return true;
}

}  // namespace corvane::sim
