#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "target/Session.h"
#include "transfer/RegionRead.h"

namespace corvane {

// What a backup holds; its default name says so.
enum class BackupRegion { Firmware, DataArea };

// Before a write, when the session asks for it: saves what the write will overwrite, as the
// matching read command saves it, so that the write command can put it back. Every word is
// read twice, and a word whose reads differ is read until two reads agree: nothing is
// erased on a backup that was not proven. A backup never replaces a file: the default name
// (backup-MODEL-REGION-DATE-TIME.bin in the log's folder) gets -2, -3, ... when taken, and
// a named one that exists is refused. The backup's path; empty when none was asked for;
// nothing after one message, when the backup failed or was stopped (nothing has been
// erased then).
// afterUs: the estimate of what follows, for the time left.
std::optional<std::string> BackUp(Session& session, BackupRegion region, uint32_t start,
                                  uint32_t words, WordOrder order, int64_t afterUs = 0);

// The same in steps, for a write that needs the old contents first to decide what to
// write: every word read once, a second read of the words about to change, the file
// committed before anything is erased, and mended later from the read-back of the others.
class BackupFile {
 public:
  // The file's name decided and opened (see BackUp); nothing after one message.
  static std::optional<BackupFile> Open(Session& session, BackupRegion region, uint32_t start,
                                        uint32_t words, WordOrder order);
  // read: told every few thousand words how many have been read.
  void ReadAll(const std::function<void(uint32_t)>& read = {});
  // Reads words [first, first + count) of each span again, under one progress bar; false
  // after the message when a word could not be proven.
  bool Prove(const std::vector<std::pair<uint32_t, uint32_t>>& spans);
  bool Prove(uint32_t first, uint32_t count) { return Prove({{first, count}}); }
  // False after the message.
  bool Commit();
  // A word the read-back read twice the same and the first read did not: the file gets it.
  void Mend(uint32_t address, uint32_t value);
  // Rewrites the committed file when anything was mended; "" or why it could not be.
  std::string SaveMended();

  // What the flash held, in image order.
  const std::vector<uint32_t>& held() const { return held_; }
  const std::string& path() const { return path_; }

 private:
  BackupFile(Session& session, uint32_t start, uint32_t words, WordOrder order);
  void WriteHeld(AtomicFile& out) const;

  Session& s_;
  uint32_t start_;
  WordOrder order_;
  std::vector<uint32_t> held_;
  std::unique_ptr<AtomicFile> out_ = std::make_unique<AtomicFile>();
  std::string path_;
  bool mended_ = false;
};

// What to say about a backup after a write went wrong: where it is and the command, in the
// window and in the shell, that puts it back. `verb` is the shell's write command, `read`
// the read command whose file would do when there is no backup.
std::string RestoreText(const Session& session, const std::string& backup, const char* menuItem,
                        const char* verb, const char* read);

}  // namespace corvane
