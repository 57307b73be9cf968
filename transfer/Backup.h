#pragma once
#include <cstdint>
#include <optional>
#include <string>

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
std::optional<std::string> BackUp(Session& session, BackupRegion region, uint32_t start,
                                  uint32_t words, WordOrder order);

// What to say about a backup after a write went wrong: where it is and the command, in the
// window and in the shell, that puts it back. `verb` is the shell's write command, `read`
// the read command whose file would do when there is no backup.
std::string RestoreText(const Session& session, const std::string& backup, const char* menuItem,
                        const char* verb, const char* read);

}  // namespace corvane
