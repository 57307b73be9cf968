#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "target/Files.h"
#include "target/Session.h"
#include "transfer/FirmwareLog.h"
#include "transfer/WordStatus.h"

namespace corvane {

// Reads written words back and compares them with the file they came from.
class Verifier {
 public:
  // `totalWords` over all ranges, for the progress bar; `question` is asked on Escape.
  Verifier(Session& session, ImageReader& image, uint32_t totalWords, std::string question);
  // Words [0, words) at address, from file offset `offset`.
  void Range(uint64_t offset, uint32_t address, uint32_t words);
  uint64_t mismatches() const { return mismatches_; }
  // Told of each word the flash holds, read the same twice, that is not the file's.
  std::function<void(uint32_t address, uint32_t flash)> mend;
  uint32_t firstMismatch() const { return first_; }
  // One error message (and a log line) when anything differed or could not be read the
  // same way twice; nothing when all matched. `after` follows the message's first sentence.
  // True when all matched.
  bool Report(WriteLogScope& log, const std::string& after = "");

 private:
  Session& session_;
  ImageReader& image_;
  std::string question_;
  WordStatus status_;
  int position_ = 0;
  uint64_t mismatches_ = 0;
  uint64_t unsure_ = 0;  // no two reads agreed
  uint32_t first_ = 0;
  // The read-back measures the port for the estimates that follow.
  std::unique_ptr<ReadMeter> meter_;
};

// "3 words differ, first at 7FC00010."
std::string DiffersText(uint64_t words, uint32_t first);
// "Verify failed: 12 words differ, first at 7FE20000."
std::string VerifyFailedText(uint64_t mismatches, uint32_t first);

}  // namespace corvane
