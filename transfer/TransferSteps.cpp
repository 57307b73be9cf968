#include "transfer/TransferSteps.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "flash/FlashEngine.h"
#include "link/Hex.h"

namespace corvane {

const std::string& WordStatus::Address(uint32_t address) {
  text_.clear();
  Append(address, 8);
  return text_;
}

const std::string& WordStatus::AddressValue(uint32_t address, uint32_t value) {
  text_.clear();
  Append(address, 8);
  text_ += "  ";
  Append(value, 6);
  return text_;
}

void WordStatus::Append(uint32_t value, int digits) {
  static const char kDigits[] = "0123456789ABCDEF";
  int n = 8;
  while (n > digits && ((value >> (4 * (n - 1))) & 0xF) == 0) --n;
  for (int i = n - 1; i >= 0; --i) text_ += kDigits[(value >> (4 * i)) & 0xF];
}

bool OpenInput(Session& s, ImageReader& image, const std::string& path, uint64_t needed,
               const std::string& what) {
  std::string error;
  if (!image.Open(path, &error)) {
    s.host.MessageBox(MessageKind::Error, error + ". Nothing was written to the decoder.",
                      Buttons::Ok);
    return false;
  }
  if (image.size() < needed) {
    s.host.MessageBox(MessageKind::Error,
                      "The " + what + " " + path +
                          " is too short: " + ProfileOf(s.model()).caption + " needs " +
                          std::to_string(needed) + " bytes (" +
                          Hex(static_cast<uint32_t>(needed), 1) + " hex), the file has " +
                          std::to_string(image.size()) + ". Nothing was written to the decoder.",
                      Buttons::Ok);
    image.Close();
    return false;
  }
  return true;
}

namespace {

[[noreturn]] void InputFailedAt(uint64_t offset) {
  throw TransferError("Reading the input file failed at offset " +
                      Hex8(static_cast<uint32_t>(offset)) + ". The transfer was stopped there.");
}

}  // namespace

void ReadWord(ImageReader& image, uint8_t* bytes, uint64_t offset) {
  if (!image.Read(bytes, 4)) InputFailedAt(offset);
}

void StopTransfer(Session& s, const std::string& reason) {
  if (s.LogFile) s.LogFile->WriteLog(reason);
  throw TransferError(reason);
}

CommandOpening::CommandOpening(Session& s, Dialog dialog, const char* filter,
                               bool repaintAfterConnect) {
  s.host.SetStatus("Connecting...");
  s.host.Repaint();
  if (!Connect(s)) return;
  status_.emplace(s.host);
  connection_.emplace(s);
  if (repaintAfterConnect) s.host.Repaint();
  filter_.emplace(s.host, dialog, filter);
  path_ = s.host.RunDialog(dialog);
}

uint32_t CountProgrammedWords(ImageReader& image, uint32_t first, uint32_t words) {
  uint32_t count = 0;
  SkipBytes(image, 4ull * first);
  std::vector<uint8_t> chunk(64 * 1024);
  for (uint32_t done = 0; done < words;) {
    const uint32_t n = std::min<uint32_t>(words - done, static_cast<uint32_t>(chunk.size() / 4));
    if (!image.Read(chunk.data(), 4ull * n)) InputFailedAt(4ull * (first + done));
    for (uint32_t i = 0; i < n; ++i) {
      const uint8_t* b = chunk.data() + 4 * i;
      count += (b[0] & b[1] & b[2] & b[3]) != 0xFF;
    }
    done += n;
  }
  SkipBytes(image, 0);
  return count;
}

void SkipBytes(ImageReader& image, uint64_t to) {
  if (!image.Seek(to)) InputFailedAt(to);
}

WriteLogScope::~WriteLogScope() {
  if (!log_) return;
  log_->OnFirstFailure(nullptr);  // no box while the command unwinds
  log_->WriteLog("Stopped " + LocalDateTime());
  session_.LogFile = nullptr;
}

bool WriteLogScope::Open() {
  std::string error;
  log_ = FirmwareLog::CreateLog(LogPath(session_), &error);
  if (log_) {
    log_->WriteLog("Firmware log file " + LocalDateTime());
    if (log_->failed()) {
      error = "Cannot write the firmware log " + log_->path() + ": " + log_->failure();
      log_.reset();
    }
  }
  if (!log_) {
    session_.host.MessageBox(MessageKind::Error, error + ". Nothing was written to the decoder.",
                             Buttons::Ok);
    return false;
  }
  // Said when it happens, once: the write goes on, but its record is incomplete.
  log_->OnFirstFailure([this] {
    session_.host.MessageBox(MessageKind::Warning,
                             "Cannot write the firmware log " + log_->path() + ": " +
                                 log_->failure() +
                                 ". The write goes on; the log will miss what follows.",
                             Buttons::Ok);
  });
  session_.LogFile = log_.get();
  return true;
}

void WriteLogScope::Line(const std::string& text) {
  if (log_) log_->WriteLog(text);
}

void WriteLogScope::Finish() {
  if (!log_) return;
  log_->WriteLog("Done " + LocalDateTime());
  session_.LogFile = nullptr;
  log_.reset();
}

Verifier::Verifier(Session& s, ImageReader& image, uint32_t totalWords, std::string question)
    : session_(s), image_(image), question_(std::move(question)) {
  s.host.SetProgressRange(0, static_cast<int>(totalWords) - 1);
  s.host.SetProgressPosition(0);
  s.host.SetStatus("Verifying...");
  s.host.Repaint();
}

void Verifier::Range(uint64_t offset, uint32_t address, uint32_t words) {
  SkipBytes(image_, offset);
  uint8_t b[4];
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t a = address + 4 * i;
    ReadWord(image_, b, offset + 4ull * i);
    if (ReadFlash(session_, a) != FlashValue(b)) {
      if (mismatches_++ == 0) first_ = a;
    }
    session_.host.SetProgressPosition(position_++);
    session_.host.SetStatus(status_.Address(a));
    session_.host.ProcessMessages();
    session_.CheckAbort(question_);
  }
}

std::string VerifyFailedText(uint64_t mismatches, uint32_t first) {
  return "Verify failed: " + std::to_string(mismatches) +
         (mismatches == 1 ? " word differs" : " words differ") + ", first at " + Hex8(first) + ".";
}

bool Verifier::Report(WriteLogScope& log) {
  if (mismatches_ == 0) return true;
  const std::string text = VerifyFailedText(mismatches_, first_);
  log.Line(text);
  session_.host.MessageBox(MessageKind::Error, text, Buttons::Ok);
  return false;
}

bool OpenOutput(Session& s, AtomicFile& out, const std::string& path) {
  std::string error;
  if (out.Open(path, &error)) return true;
  s.host.MessageBox(MessageKind::Error, error + ".", Buttons::Ok);
  return false;
}

bool CommitOutput(Session& s, AtomicFile& out) {
  std::string error;
  if (out.Commit(&error)) return true;
  s.host.MessageBox(MessageKind::Error,
                    error + ". An existing file of that name was left as it was.", Buttons::Ok);
  return false;
}

namespace {

void ReadToFile(Session& s, AtomicFile& out, uint32_t start, uint32_t words, WordOrder order,
                const std::string& abortQuestion) {
  WordStatus status;
  uint8_t b[4];
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t a = start + 4 * i;
    const uint32_t word = ReadFlash(s, a);
    // ReadFlash gives image order; swapping back gives the word as the bus carried it.
    if (order == WordOrder::Image) {
      PutFlashValue(b, word);
    } else {
      PutRamValue(b, ByteSwap(word));
    }
    out.Write(b, 4);
    if (!out.ok()) return;  // the commit says why; reading on would only waste time
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.SetStatus(status.Address(a));
    s.host.ProcessMessages();
    s.CheckAbort(abortQuestion);
  }
}

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

void ReadWordsToFile(Session& s, AtomicFile& out, uint32_t start, uint32_t words,
                     const std::string& abortQuestion) {
  ReadToFile(s, out, start, words, WordOrder::Bus, abortQuestion);
}

void ReadFlashToFile(Session& s, AtomicFile& out, uint32_t start, uint32_t words,
                     const std::string& abortQuestion) {
  ReadToFile(s, out, start, words, WordOrder::Image, abortQuestion);
}

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
  ReadToFile(s, out, start, words, order,
             "Stop the backup? Nothing has been erased yet: the write will not start, and no "
             "backup is kept.");
  if (!out.Commit(&error)) {
    s.host.MessageBox(MessageKind::Error, "Cannot save the backup: " + error + "." + nothingDone,
                      Buttons::Ok);
    return std::nullopt;
  }
  return out.path();
}

std::string CompletedText(const std::string& done, const std::string& backup) {
  if (backup.empty()) return done;
  return done + " What it held before is saved in " + backup + ".";
}

}  // namespace corvane
