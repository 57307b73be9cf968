#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "sim/Conf.h"
#include "sim/DecoderModels.h"
#include "sim/Eeprom24.h"

namespace corvane::sim {

// What decoder.conf sets for the port, the link and the EEPROM (the flash board reads its
// own keys).
struct DecoderSettings {
  int64_t portAccessUs = 1;
  int64_t linkByteUs = 3;
  int64_t deadAfterBytes = 0;
  int64_t loaderSeconds = 3;
  bool eepromPresent = true;
  int64_t eepromBusyMs = 5;
  WriteProtect eepromWriteProtect = WriteProtect::Off;
  int64_t eepromNeverReady = 0;
  int64_t eepromAcks = 0;
  int64_t flipBitsEvery = 0;
  bool cablePlugged = true;
  int64_t unplugAfterBytes = 0;
  bool bidirectional = true;  // the port can turn its data lines to input
};

// What stat says of a file: enough to tell that someone else wrote, replaced, made or removed
// it since we last read or wrote it.
struct FileStamp {
  bool exists = false;
  uint64_t device = 0, inode = 0;
  int64_t size = 0, mtimeSec = 0, mtimeNsec = 0;
  bool operator==(const FileStamp&) const = default;
};

// The stamp of the file at path (through a symbolic link); a file that cannot be stat'ed
// counts as absent.
FileStamp StampOf(const std::string& path);

// decoder.conf and decoder.state are a few kilobytes of text; anything near this is not one.
inline constexpr uint64_t kTextFileLimit = 1 << 20;

// How big a decoder file may be: exactly, or at most, `bytes`. what names the limit in the
// message ("the flash", "a decoder.conf").
struct SizeLimit {
  uint64_t bytes;
  bool exact;
  const char* what;
};

enum class FileRead { kRead, kMissing, kFailed };

// Reads one file of the decoder's folder whole. Only a regular file, or a symbolic link to
// one, within limit is read; anything else fails with *error naming the file and what it is
// before a byte is read, so a directory, a FIFO or a device never throws, blocks or fills
// memory. An absent file is kMissing, not an error. *stamp (when given) is the file as read.
FileRead ReadDecoderFile(const std::string& path, const SizeLimit& limit, std::vector<uint8_t>* out,
                         FileStamp* stamp, std::string* error);

// DIR/<model folder>/ and its files as they were opened.
struct DecoderFiles {
  std::string directory;
  Conf conf;
  DecoderSettings settings;
  std::vector<uint8_t> flash, data, eeprom;
  std::vector<uint8_t> ram;  // ram.bin as stored; empty when absent
  bool created = false;      // the decoder was made now (its folder held no flash.bin)
  // By file name: each file as this decoder last read or wrote it.
  std::map<std::string, FileStamp> stamps;
};

// The commented decoder.conf a new directory gets.
std::string DefaultDecoderConf(const DecoderModel& model);

bool ReadSettings(const Conf& conf, const std::string& flashDefaults, DecoderSettings* out,
                  std::string* error);

// Opens DIR/<folder>, creating what is missing: the folder with its loader files, an erased
// flash.bin, data.bin and eeprom.bin, and a documented decoder.conf. A file of the wrong
// size or a conf that does not parse fails with *error naming the file.
bool OpenDecoderDir(const std::string& dir, const DecoderModel& model, uint32_t flashSize,
                    DecoderFiles* out, std::string* error);

// Writes the whole file under a new temporary name in the same folder, then renames it over.
// durable: flushed to the disk before the rename, so a crash leaves the old or the new file.
// *stamp (when given) gets the file as written.
bool WriteFileAtomically(const std::string& path, std::span<const uint8_t> bytes,
                         std::string* error, bool durable = true, FileStamp* stamp = nullptr);

// Creates a file in folder under a name nobody has used: ".corvane-" and six characters from
// draw (random letters and digits when empty), drawn again while the name is taken. A link
// planted under the name is never followed. The open descriptor and *path, or -1 with errno.
int CreateTemporaryFile(const std::string& folder, std::string* path,
                        const std::function<std::string()>& draw = {});

}  // namespace corvane::sim
