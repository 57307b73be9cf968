#include "transfer/Backup.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <vector>

#include "flash/FlashEngine.h"
#include "link/Text.h"
#include "transfer/Duration.h"
#include "transfer/FirmwareLog.h"
#include "transfer/ImageFile.h"
#include "transfer/WordStatus.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

// More than half the words erased: a flash left empty by a write that did not finish.
bool MostlyErased(const std::vector<uint8_t>& bytes) {
  size_t erased = 0, words = bytes.size() / 4;
  for (size_t i = 0; i < words; ++i) {
    const uint8_t* b = bytes.data() + 4 * i;
    erased += (b[0] & b[1] & b[2] & b[3]) == 0xFF;
  }
  return words != 0 && erased * 2 > words;
}

int PercentErased(const std::vector<uint32_t>& words) {
  const auto erased = std::count(words.begin(), words.end(), 0xFFFFFFFFu);
  return words.empty() ? 0 : static_cast<int>(erased * 100 / static_cast<long>(words.size()));
}

const char* RegionName(BackupRegion region) {
  return region == BackupRegion::Firmware ? "firmware" : "data-area";
}

// The newest earlier backup of this model and size in the folder that is not mostly erased;
// the size tells the firmware from the data area, also in names from before the region was
// in them.
std::optional<std::string> OlderGoodBackup(const std::string& fresh, const std::string& model,
                                           uint64_t size) {
  std::error_code ec;
  const fs::path folder = fs::path(fresh).parent_path();
  std::vector<std::pair<fs::file_time_type, fs::path>> candidates;
  for (const auto& entry : fs::directory_iterator(folder.empty() ? "." : folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("backup-" + model + "-", 0) != 0 || entry.path() == fs::path(fresh)) continue;
    if (!entry.is_regular_file(ec) || entry.file_size(ec) != size) continue;
    candidates.emplace_back(entry.last_write_time(ec), entry.path());
  }
  std::sort(candidates.rbegin(), candidates.rend());
  for (const auto& [when, path] : candidates) {
    std::vector<uint8_t> bytes(size);
    ImageReader reader;
    std::string error;
    if (!reader.Open(path.string(), &error) || !reader.Read(bytes.data(), bytes.size())) continue;
    if (!MostlyErased(bytes)) return path.string();
  }
  return std::nullopt;
}

}  // namespace

namespace {

const std::string kNothingDone = " Nothing was erased or written.";
const std::string kStopBackup =
    "Stop the backup? Nothing has been erased yet: the write will not start, and no backup "
    "is kept.";

}  // namespace

BackupFile::BackupFile(Session& s, uint32_t start, uint32_t words, WordOrder order)
    : s_(s), start_(start), order_(order), held_(words) {}

std::optional<BackupFile> BackupFile::Open(Session& s, BackupRegion region, uint32_t start,
                                           uint32_t words, WordOrder order) {
  std::string path = *s.backup;
  if (path.empty()) {
    path = LogPath(s);
    if (!path.empty() && path.back() != '/') path += '/';
    path += "backup-" + ModelFolderName(s.model()) + "-" + RegionName(region) + "-" + TimeStamp("%Y%m%d-%H%M%S") +
            ".bin";
  } else if (struct stat st; ::lstat(path.c_str(), &st) == 0) {
    // Running the same write twice would otherwise replace the old contents with the new.
    s.host.MessageBox(MessageKind::Error,
                      "Cannot save the backup: " + path +
                          " exists; name a new file for the backup: it must not replace one." +
                          kNothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  BackupFile backup(s, start, words, order);
  std::string error;
  // Two decoders backed up in the same second get a name each.
  if (!backup.out_->Open(path, &error, s.backup->empty() ? Taken::Number : Taken::Refuse)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + kNothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  return backup;
}

void BackupFile::ReadAll(const std::function<void(uint32_t)>& read) {
  WordStatus status;
  const uint32_t words = static_cast<uint32_t>(held_.size());
  s_.host.SetStatus("Backing up...");
  s_.host.SetProgressRange(0, static_cast<int>(words));
  s_.host.SetProgressPosition(0);
  s_.host.Repaint();
  ReadMeter meter(s_);
  for (uint32_t i = 0; i < words; ++i) {
    held_[i] = ReadFlash(s_, start_ + 4 * i);
    if (read && ((i + 1) % 4096 == 0 || i + 1 == words)) read(i + 1);
    s_.host.SetProgressPosition(static_cast<int>(i));
    s_.host.SetStatus(status.Address(start_ + 4 * i));
    s_.host.ProcessMessages();
    s_.CheckAbort(kStopBackup);
  }
}

bool BackupFile::Prove(const std::vector<std::pair<uint32_t, uint32_t>>& spans) {
  // The second read proves the first: a word the link corrupted is read until two agree.
  WordStatus status;
  uint32_t total = 0;
  for (const auto& span : spans) total += span.second;
  s_.host.SetStatus("Checking the backup...");
  s_.host.SetProgressRange(0, static_cast<int>(total));
  s_.host.SetProgressPosition(0);
  s_.host.Repaint();
  ReadMeter meter(s_);
  int position = 0;
  for (const auto& [first, count] : spans) {
    for (uint32_t i = first; i < first + count; ++i) {
      const uint32_t a = start_ + 4 * i;
      const uint32_t again = ReadFlash(s_, a);
      if (again != held_[i]) {
        const std::optional<uint32_t> agreed = s_.PeekAgreed(a, ByteSwap(again));
        if (!agreed || (ByteSwap(*agreed) != held_[i] && ByteSwap(*agreed) != again)) {
          s_.host.MessageBox(MessageKind::Error,
                             "Cannot save the backup: the word at " + Hex8(a) +
                                 " read differently each time, so the backup cannot be proven. "
                                 "The link corrupts data: check the cable and the port with the "
                                 "link test (" + s_.shellCommand + " link-test)." + kNothingDone,
                             Buttons::Ok);
          return false;
        }
        ++s_.linkNoise;
        held_[i] = ByteSwap(*agreed);
      }
      s_.host.SetProgressPosition(position++);
      s_.host.SetStatus(status.Address(a));
      s_.host.ProcessMessages();
      s_.CheckAbort(kStopBackup);
    }
  }
  return true;
}

void BackupFile::WriteHeld(AtomicFile& out) const {
  uint8_t b[4];
  for (uint32_t word : held_) {
    if (order_ == WordOrder::Image) {
      PutFlashValue(b, word);
    } else {
      PutRamValue(b, ByteSwap(word));
    }
    out.Write(b, 4);
  }
}

bool BackupFile::Commit() {
  WriteHeld(*out_);
  std::string error;
  if (!out_->Commit(&error)) {
    s_.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + kNothingDone,
                       Buttons::Ok);
    return false;
  }
  path_ = out_->path();
  s_.host.FileWritten(path_);
  // A retry after a write that failed backs up an empty flash: the older backup is the one
  // that holds the firmware.
  const int erased = PercentErased(held_);
  if (erased > 50) {
    if (const auto older =
            OlderGoodBackup(path_, ModelFolderName(s_.model()), 4ull * held_.size())) {
      s_.host.MessageBox(MessageKind::Warning,
                         "The backup just saved, " + path_ + ", is " + std::to_string(erased) +
                             " % erased: the flash may still be empty from a write that did "
                             "not finish. An older backup of this " + s_.profileRow().caption +
                             ", " + *older + ", is not: keep it, it may be the one to put back.",
                         Buttons::Ok);
    }
  }
  return true;
}

void BackupFile::Mend(uint32_t address, uint32_t value) {
  const uint32_t i = (address - start_) / 4;
  if (i < held_.size() && held_[i] != value) {
    held_[i] = value;
    mended_ = true;
  }
}

std::string BackupFile::SaveMended() {
  if (!mended_) return {};
  mended_ = false;
  AtomicFile out;
  std::string error;
  if (!out.Open(path_, &error)) return error;
  WriteHeld(out);
  if (!out.Commit(&error)) return error;
  s_.host.FileWritten(path_);
  return {};
}

std::optional<std::string> BackUp(Session& s, BackupRegion region, uint32_t start, uint32_t words,
                                  WordOrder order, int64_t afterUs) {
  if (!s.backup) return std::string();
  auto backup = BackupFile::Open(s, region, start, words, order);
  if (!backup) return std::nullopt;
  BeginStep(s, "back-up", Duration(s.linkCost).Peeks(words),
            Duration(s.linkCost).Peeks(words) + afterUs);
  backup->ReadAll();
  // The first read measured the port: the second's time follows from it.
  BeginStep(s, "back-up check", Duration(s.linkCost).Peeks(words), afterUs);
  if (!backup->Prove(0, words) || !backup->Commit()) return std::nullopt;
  return backup->path();
}

std::string RestoreText(const Session& s, const std::string& backup, const char* menuItem,
                        const char* verb, const char* read) {
  if (backup.empty()) {
    return std::string("No backup was made before this write: put back a file saved with ") +
           read + " before.";
  }
  return std::string("What it held before is saved in ") + backup + ". To put it back, choose " +
         menuItem + " with that file, or run: " + s.shellCommand + " " + verb + " " +
         ShellQuoted(backup);
}

}  // namespace corvane
