#include "sim/DecoderDir.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>

#include "sim/FlashBoard.h"
#include "sim/SparseRam.h"
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
  std::set<std::string> keys = {"flash_maker",         "flash_device", "flash_id",
                                "protected_sectors",   "stuck_bits",   "erase_time_percent",
                                "program_time_percent"};
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

const char* KindOf(mode_t mode) {
  if (S_ISREG(mode)) return "a file";
  if (S_ISDIR(mode)) return "a directory";
  if (S_ISFIFO(mode)) return "a FIFO";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISLNK(mode)) return "a symbolic link";
  return "an unknown kind of file";
}

FileStamp StampFrom(const struct stat& st) {
  return FileStamp{true,
                   static_cast<uint64_t>(st.st_dev),
                   static_cast<uint64_t>(st.st_ino),
                   static_cast<int64_t>(st.st_size),
                   static_cast<int64_t>(st.st_mtim.tv_sec),
                   static_cast<int64_t>(st.st_mtim.tv_nsec)};
}

std::string CannotRead(const std::string& path) {
  return path + ": cannot be read (" + std::strerror(errno) + ")";
}

// What the path names, told before opening it: a FIFO or a device is never opened at all.
bool CheckKind(const std::string& path, bool* missing, std::string* error) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) {
      *missing = true;
      return true;
    }
    *error = CannotRead(path);
    return false;
  }
  if (S_ISREG(st.st_mode)) return true;
  if (!S_ISLNK(st.st_mode)) {
    *error = path + " is " + KindOf(st.st_mode) + ", not a file";
    return false;
  }
  char target[4096];
  const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
  const std::string to = n > 0 ? std::string(target, static_cast<size_t>(n)) : "its target";
  if (::stat(path.c_str(), &st) != 0) {
    *error = errno == ENOENT ? path + " is a symbolic link to " + to + ", which does not exist"
                             : CannotRead(path);
    return false;
  }
  if (S_ISREG(st.st_mode)) return true;
  *error = path + " is a symbolic link to " + to + ", " + KindOf(st.st_mode) + ", not a file";
  return false;
}

std::string SizeFault(const std::string& path, uint64_t size, const SizeLimit& limit) {
  return path + " is " + std::to_string(size) + " bytes; " + limit.what +
         (limit.exact ? " is " : " is at most ") + std::to_string(limit.bytes) + " bytes";
}

// ram.bin holds at most every page of the model's RAM, each behind its 4-byte address.
uint64_t RamFileLimit(const DecoderModel& model) {
  uint64_t pages = 0;
  for (const RamRegion& r : model.ram) {
    pages += (uint64_t{r.fitted} + SparseRam::kPageSize - 1) / SparseRam::kPageSize;
  }
  return pages * (4 + SparseRam::kPageSize);
}

// An image file of a fixed size: created filled with `fill` when missing.
bool OpenImage(const fs::path& path, size_t size, uint8_t fill, const char* what,
               std::vector<uint8_t>* out, FileStamp* stamp, std::string* error) {
  const FileRead read = ReadDecoderFile(path.string(), {size, true, what}, out, stamp, error);
  if (read != FileRead::kMissing) return read == FileRead::kRead;
  out->assign(size, fill);
  // A fresh erased file needs no flush: if a crash lost it, it is simply made again.
  return WriteFileAtomically(path.string(), *out, error, false, stamp);
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

FileStamp StampOf(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return FileStamp{};
  return StampFrom(st);
}

FileRead ReadDecoderFile(const std::string& path, const SizeLimit& limit, std::vector<uint8_t>* out,
                         FileStamp* stamp, std::string* error) {
  bool missing = false;
  if (!CheckKind(path, &missing, error)) return FileRead::kFailed;
  if (missing) {
    if (stamp) *stamp = FileStamp{};
    return FileRead::kMissing;
  }
  // O_NONBLOCK: should the name be swapped for a FIFO after the check, open still returns.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) {
      *error = CannotRead(path);
      return FileRead::kFailed;
    }
    if (stamp) *stamp = FileStamp{};
    return FileRead::kMissing;
  }
  auto fail = [&](const std::string& why) {
    ::close(fd);
    *error = why;
    return FileRead::kFailed;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(CannotRead(path));
  if (!S_ISREG(st.st_mode)) return fail(path + " is " + KindOf(st.st_mode) + ", not a file");
  const auto size = static_cast<uint64_t>(st.st_size);
  if (limit.exact ? size != limit.bytes : size > limit.bytes) {
    return fail(SizeFault(path, size, limit));
  }
  // One byte more than fstat said, to notice a file growing while it is read.
  std::vector<uint8_t> bytes(static_cast<size_t>(size) + 1);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(CannotRead(path));
    }
    done += static_cast<size_t>(n);
  }
  if (done > size || (limit.exact && done != size)) {
    return fail(path + " changed while it was read");
  }
  ::close(fd);
  bytes.resize(done);
  *out = std::move(bytes);
  if (stamp) *stamp = StampFrom(st);
  return FileRead::kRead;
}

int CreateTemporaryFile(const std::string& folder, std::string* path,
                        const std::function<std::string()>& draw) {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::string prefix = (folder.empty() ? std::string(".") : folder) + "/.corvane-";
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::string suffix;
    if (draw) {
      suffix = draw();
    } else {
      uint8_t random[6];
      if (::getrandom(random, sizeof random, 0) != sizeof random) return -1;
      for (uint8_t r : random) suffix += kChars[r % (sizeof kChars - 1)];
    }
    const std::string name = prefix + suffix;
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      *path = name;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;  // errno is EEXIST
}

bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error, bool durable, FileStamp* stamp) {
  // Same folder, so the rename stays within one file system and never follows the final name.
  std::string temp;
  const int fd = CreateTemporaryFile(fs::path(path).parent_path().string(), &temp);
  auto fail = [&](const std::string& what) {
    if (error) *error = path + ": " + what + " (" + std::strerror(errno) + ")";
    return false;
  };
  if (fd < 0) return fail("cannot be written");
  auto drop = [&](const std::string& what) {
    const int saved = errno;
    ::unlink(temp.c_str());
    errno = saved;
    return fail(what);
  };
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int saved = errno;
      ::close(fd);
      errno = saved;
      return drop("write failed");
    }
    done += static_cast<size_t>(n);
  }
  // The rename keeps inode, size and modification time: this is the stamp of the final file.
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return drop("write failed");
  }
  const bool flushed = !durable || ::fsync(fd) == 0;
  const int flushErrno = errno;
  if (::close(fd) != 0 || !flushed) {
    if (!flushed) errno = flushErrno;
    return drop("write failed");
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) return drop("cannot be replaced");
  if (stamp) *stamp = StampFrom(st);
  return true;
}

bool OpenDecoderDir(const std::string& dir, const DecoderModel& model, uint32_t flashSize,
                    DecoderFiles* out, std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  const fs::path folder = fs::path(dir) / model.folder;
  struct stat st {};
  if (::stat(folder.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) {
      *error = folder.string() + " is " + KindOf(st.st_mode) + ", not a folder";
      return false;
    }
  } else {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
      *error = folder.string() + ": cannot be created (" + ec.message() + ")";
      return false;
    }
  }
  // Loaders go into the decoder's own folder only, and only when the decoder is new (no
  // flash.bin yet, not even a broken one; a folder made just to hold a decoder.conf counts as
  // new): a real decoder must never be sent one of these, and one the user removed stays
  // removed.
  const bool fresh = ::lstat((folder / "flash.bin").c_str(), &st) != 0 && errno == ENOENT;
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
  std::vector<uint8_t> raw;
  FileStamp& confStamp = files.stamps[kConfName];
  const FileRead confRead = ReadDecoderFile(
      confPath.string(), {kTextFileLimit, false, "a decoder.conf"}, &raw, &confStamp, error);
  if (confRead == FileRead::kFailed) return false;
  if (confRead == FileRead::kRead) {
    confText.assign(raw.begin(), raw.end());
  } else {
    confText = DefaultDecoderConf(model);
    raw.assign(confText.begin(), confText.end());
    if (!WriteFileAtomically(confPath.string(), raw, error, false, &confStamp)) return false;
  }
  std::string why;
  if (!files.conf.Parse(confText, &why) ||
      !ReadSettings(files.conf, FlashConfDefaults(model.caption), &files.settings, &why)) {
    *error = confPath.string() + ": " + why;
    return false;
  }

  if (!OpenImage(folder / "flash.bin", flashSize, 0xFF, "the flash", &files.flash,
                 &files.stamps["flash.bin"], error)) {
    return false;
  }
  if (model.dataSize != 0 && !OpenImage(folder / "data.bin", model.dataSize, 0xFF, "the data area",
                                        &files.data, &files.stamps["data.bin"], error)) {
    return false;
  }
  if (!OpenImage(folder / "eeprom.bin", model.eepromSize, 0xFF, "the EEPROM", &files.eeprom,
                 &files.stamps["eeprom.bin"], error)) {
    return false;
  }
  const FileRead ramRead = ReadDecoderFile((folder / "ram.bin").string(),
                                           {RamFileLimit(model), false, "this model's ram.bin"},
                                           &files.ram, &files.stamps["ram.bin"], error);
  if (ramRead == FileRead::kFailed) return false;

  *out = std::move(files);
  return true;
}

}  // namespace corvane::sim
