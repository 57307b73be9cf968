#include "transfer/Verifier.h"

#include "flash/FlashEngine.h"
#include "link/Text.h"
#include "transfer/ImageFile.h"
#include "transfer/InputImage.h"

namespace corvane {

Verifier::Verifier(Session& s, ImageReader& image, uint32_t totalWords, std::string question)
    : session_(s), image_(image), question_(std::move(question)),
      meter_(std::make_unique<ReadMeter>(s)) {
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
    // A word that differs is read again: the link, not the flash, may have changed it.
    const uint32_t expected = FlashValue(b);
    const std::optional<uint32_t> read = ReadFlashExpecting(session_, a, expected);
    if (!read) {
      if (unsure_++ == 0 && mismatches_ == 0) first_ = a;
    } else if (*read != expected) {
      if (mismatches_++ == 0 && unsure_ == 0) first_ = a;
      if (mend) mend(a, *read);
    }
    session_.host.SetProgressPosition(position_++);
    session_.host.SetStatus(status_.Address(a));
    session_.host.ProcessMessages();
    session_.CheckAbort(question_);
  }
}

std::string DiffersText(uint64_t words, uint32_t first) {
  return std::to_string(words) + (words == 1 ? " word differs" : " words differ") +
         ", first at " + Hex8(first) + ".";
}

std::string VerifyFailedText(uint64_t mismatches, uint32_t first) {
  return "Verify failed: " + DiffersText(mismatches, first);
}

bool Verifier::Report(WriteLogScope& log, const std::string& after) {
  meter_->Finish();
  if (mismatches_ == 0 && unsure_ == 0) {
    session_.verifiedBytes += 4ull * static_cast<uint64_t>(position_);
    return true;
  }
  std::string text;
  if (mismatches_ != 0) {
    text = VerifyFailedText(mismatches_, first_);
  } else {
    text = "Verify failed: " + std::to_string(unsure_) +
           (unsure_ == 1 ? " word" : " words") + ", the first at " + Hex8(first_) +
           ", read differently each time. The link corrupts data: check the cable and the port "
           "with the link test (" + session_.shellCommand + " link-test).";
  }
  log.Line(text);
  session_.host.MessageBox(MessageKind::Error, after.empty() ? text : text + " " + after,
                           Buttons::Ok);
  return false;
}

}  // namespace corvane
