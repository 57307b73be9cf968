#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

#include "target/Connection.h"
#include "target/Session.h"
#include "transfer/FirmwareLog.h"
#include "transfer/ImageFile.h"

// Steps the write and read commands share: input checks, the firmware log of a write,
// the read-back check, and reading a region of the decoder into a file.
namespace corvane {

// A transfer cannot go on (a file failed half-way, the flash refuses a sector, the decoder
// stays silent after its loader): the command stops and says so once.
class TransferError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes the reason into the firmware log when one is open, then throws it.
[[noreturn]] void StopTransfer(Session& session, const std::string& reason);

// RunCommand that also turns a TransferError into one error message after the body's
// guards have closed what it opened.
template <class Body>
void RunTransfer(Session& session, Body&& body) {
  RunCommand(session, [&] {
    try {
      body();
    } catch (const TransferError& e) {
      session.host.MessageBox(MessageKind::Error, e.what(), Buttons::Ok);
    }
  });
}

// Per-word status texts, built in place: a whole-flash loop must not allocate per word.
// The common opening of a transfer: "Connecting...", Connect, the guards that close it again
// (filter back, then Disconnect, then progress 0 and status empty) and the file dialog.
// When Connect fails nothing is guarded, so "Connecting..." stays.
class CommandOpening {
 public:
  CommandOpening(Session& s, Dialog dialog, const char* filter, bool repaintAfterConnect);
  // The chosen file; nothing when the decoder did not answer or the user cancelled.
  const std::optional<std::string>& path() const { return path_; }

 private:
  std::optional<StatusGuard> status_;
  std::optional<ConnectionGuard> connection_;
  std::optional<FilterGuard> filter_;
  std::optional<std::string> path_;
};

class WordStatus {
 public:
  WordStatus() { text_.reserve(32); }
  // "7FE00000"
  const std::string& Address(uint32_t address);
  // "7FE00000  123456": the value with at least 6 digits.
  const std::string& AddressValue(uint32_t address, uint32_t value);

 private:
  void Append(uint32_t value, int digits);
  std::string text_;
};

// Opens an input file and checks that it holds at least `needed` bytes. On failure shows
// one error naming what was expected and what was found, and returns false.
bool OpenInput(Session& session, ImageReader& image, const std::string& path, uint64_t needed,
               const std::string& what);

// Words of [first, first + words) that are not erased (0xFFFFFFFF): what a write programs.
// Leaves the image at its start.
uint32_t CountProgrammedWords(ImageReader& image, uint32_t first, uint32_t words);

// The next four bytes of an image that was checked to be long enough; a read that still
// comes up short (the file changed under us, a disk error) stops the command.
void ReadWord(ImageReader& image, uint8_t* bytes, uint64_t offset);
void SkipBytes(ImageReader& image, uint64_t to);

// The firmware log of one write. Open() creates it with its header and hands it to the
// flash engine through session.LogFile; Finish() writes "Done ". Leaving any other way (an
// abort, a dead link, a file error) writes "Stopped " instead, so the log never claims a
// write that did not run to its end.
class WriteLogScope {
 public:
  explicit WriteLogScope(Session& session) : session_(session) {}
  ~WriteLogScope();
  WriteLogScope(const WriteLogScope&) = delete;
  WriteLogScope& operator=(const WriteLogScope&) = delete;

  // False after an error message when the log cannot be created.
  bool Open();
  void Line(const std::string& text);
  void Finish();

 private:
  Session& session_;
  std::unique_ptr<FirmwareLog> log_;
};

// Reads written words back and compares them with the file they came from.
class Verifier {
 public:
  // `totalWords` over all ranges, for the progress bar; `question` is asked on Escape.
  Verifier(Session& session, ImageReader& image, uint32_t totalWords, std::string question);
  // Words [0, words) at address, from file offset `offset`.
  void Range(uint64_t offset, uint32_t address, uint32_t words);
  uint64_t mismatches() const { return mismatches_; }
  uint32_t firstMismatch() const { return first_; }
  // One error message (and a log line) when anything differed; nothing when all matched.
  // True when all matched.
  bool Report(WriteLogScope& log);

 private:
  Session& session_;
  ImageReader& image_;
  std::string question_;
  WordStatus status_;
  int position_ = 0;
  uint64_t mismatches_ = 0;
  uint32_t first_ = 0;
};

// "Verify failed: 12 words differ, first at 7FE20000."
std::string VerifyFailedText(uint64_t mismatches, uint32_t first);

// Opens the chosen output under a temporary name; false after an error message.
bool OpenOutput(Session& session, AtomicFile& out, const std::string& path);
// Renames the finished output over the chosen name; false after an error message.
bool CommitOutput(Session& session, AtomicFile& out);

// Peeks `words` words from `start` into out in bus order (the file's bytes follow the
// decoder's addresses); per word the address as status, progress i, and an abort check.
void ReadWordsToFile(Session& session, AtomicFile& out, uint32_t start, uint32_t words,
                     const std::string& abortQuestion);
// The same in image order, as Read Firmware saves the flash and Write Firmware takes it.
void ReadFlashToFile(Session& session, AtomicFile& out, uint32_t start, uint32_t words,
                     const std::string& abortQuestion);

enum class WordOrder { Image, Bus };

// Before a write, when the session asks for it: saves what the write will overwrite, as the
// matching read command saves it, so that the write command can put it back. The backup's
// path; empty when none was asked for; nothing after one message, when the backup failed
// or was stopped (nothing has been erased then).
std::optional<std::string> BackUp(Session& session, uint32_t start, uint32_t words,
                                  WordOrder order);
// "Writing Flash completed." and, after a backup, where the old contents are.
std::string CompletedText(const std::string& done, const std::string& backup);

}  // namespace corvane
