#include "transfer/Backup.h"

#include <ctime>

#include "transfer/FirmwareLog.h"

namespace corvane {

namespace {

// 20261209-013045, for names that sort by time.
std::string FileStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
  return text;
}

}  // namespace

std::optional<std::string> BackUp(Session& s, uint32_t start, uint32_t words, WordOrder order) {
  if (!s.backup) return std::string();
  std::string path = *s.backup;
  if (path.empty()) {
    path = LogPath(s);
    if (!path.empty() && path.back() != '/') path += '/';
    path += "backup-" + ModelFolderName(s.model()) + "-" + FileStamp() + ".bin";
  }
  const std::string nothingDone = " Nothing was erased or written.";
  AtomicFile out;
  std::string error;
  if (!out.Open(path, &error)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  s.host.SetStatus("Backing up...");
  s.host.SetProgressRange(0, static_cast<int>(words));
  s.host.SetProgressPosition(0);
  s.host.Repaint();
  ReadRegionToFile(s, out, start, words, order,
                   "Stop the backup? Nothing has been erased yet: the write will not start, and "
                   "no backup is kept.");
  if (!out.Commit(&error)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  return out.path();
}

}  // namespace corvane
