#include "transfer/Backup.h"

#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <vector>

#include "flash/FlashEngine.h"
#include "link/Text.h"
#include "transfer/FirmwareLog.h"
#include "transfer/ImageFile.h"
#include "transfer/WordStatus.h"

namespace corvane {

namespace {

namespace fs = std::filesystem;

// 20261209-013045, for names that sort by time.
std::string FileStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

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

std::optional<std::string> BackUp(Session& s, BackupRegion region, uint32_t start, uint32_t words,
                                  WordOrder order) {
  if (!s.backup) return std::string();
  std::string path = *s.backup;
  const std::string nothingDone = " Nothing was erased or written.";
  if (path.empty()) {
    path = LogPath(s);
    if (!path.empty() && path.back() != '/') path += '/';
    path += "backup-" + ModelFolderName(s.model()) + "-" + RegionName(region) + "-" + FileStamp() +
            ".bin";
  } else if (struct stat st; ::lstat(path.c_str(), &st) == 0) {
    // Running the same write twice would otherwise replace the old contents with the new.
    s.host.MessageBox(MessageKind::Error,
                      "Cannot save the backup: " + path +
                          " exists; name a new file for the backup: it must not replace one." +
                          nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  AtomicFile out;
  std::string error;
  // Two decoders backed up in the same second get a name each.
  if (!out.Open(path, &error, s.backup->empty() ? Taken::Number : Taken::Refuse)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  const std::string question =
      "Stop the backup? Nothing has been erased yet: the write will not start, and no backup "
      "is kept.";
  WordStatus status;
  std::vector<uint32_t> held(words);
  s.host.SetStatus("Backing up...");
  s.host.SetProgressRange(0, static_cast<int>(words));
  s.host.SetProgressPosition(0);
  s.host.Repaint();
  for (uint32_t i = 0; i < words; ++i) {
    held[i] = ReadFlash(s, start + 4 * i);
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.SetStatus(status.Address(start + 4 * i));
    s.host.ProcessMessages();
    s.CheckAbort(question);
  }
  // The second read proves the first: a word the link corrupted is read until two agree.
  s.host.SetStatus("Checking the backup...");
  s.host.SetProgressPosition(0);
  s.host.Repaint();
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t a = start + 4 * i;
    const uint32_t again = ReadFlash(s, a);
    if (again != held[i]) {
      const std::optional<uint32_t> agreed = s.PeekAgreed(a, ByteSwap(again));
      if (!agreed || (ByteSwap(*agreed) != held[i] && ByteSwap(*agreed) != again)) {
        s.host.MessageBox(MessageKind::Error,
                          "Cannot save the backup: the word at " + Hex8(a) +
                              " read differently each time, so the backup cannot be proven. "
                              "The link corrupts data: check the cable and the port with the "
                              "link test (" + s.shellCommand + " link-test)." + nothingDone,
                          Buttons::Ok);
        return std::nullopt;
      }
      ++s.linkNoise;
      held[i] = ByteSwap(*agreed);
    }
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.SetStatus(status.Address(a));
    s.host.ProcessMessages();
    s.CheckAbort(question);
  }
  uint8_t b[4];
  for (uint32_t word : held) {
    if (order == WordOrder::Image) {
      PutFlashValue(b, word);
    } else {
      PutRamValue(b, ByteSwap(word));
    }
    out.Write(b, 4);
  }
  if (!out.Commit(&error)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  // A retry after a write that failed backs up an empty flash: the older backup is the one
  // that holds the firmware.
  const int erased = PercentErased(held);
  if (erased > 50) {
    if (const auto older = OlderGoodBackup(out.path(), ModelFolderName(s.model()), 4ull * words)) {
      s.host.MessageBox(MessageKind::Warning,
                        "The backup just saved, " + out.path() + ", is " + std::to_string(erased) +
                            " % erased: the flash may still be empty from a write that did not "
                            "finish. An older backup of this " + s.profileRow().caption + ", " +
                            *older + ", is not: keep it, it may be the one to put back.",
                        Buttons::Ok);
    }
  }
  return out.path();
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
