#include "transfer/RamLoader.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "flash/FlashEngine.h"
#include "transfer/ImageFile.h"
#include "transfer/InputImage.h"
#include "transfer/Transfer.h"
#include "transfer/WordStatus.h"

namespace corvane {

namespace {

// The boot link takes the block length as one byte, and 0 and 1 there mean poke and peek.
constexpr size_t kLoaderMin = 2;
constexpr size_t kLoaderMax = 255;

// A loader slower than its fixed wait is still writing: the decoder answers again when it is
// done. How much longer we wait for that before saying so.
constexpr int64_t kLoaderGraceUs = 60'000'000;
constexpr int64_t kRetryMs = 500;
// Read while waiting: the PIO input register answers on every model and changes nothing.
constexpr uint32_t kPioInput = 0x10;

}  // namespace

void CopyImageToRam(Session& s, ImageReader& image, uint32_t base, uint32_t words) {
  s.host.SetProgressRange(0, static_cast<int>(words) - 1);
  s.host.SetProgressPosition(0);
  s.host.SetStatus("Copy image to RAM...");
  s.host.Repaint();
  const std::string question =
      "Stop copying the image to the decoder's RAM? The flash has not been changed yet; the "
      "decoder keeps what it holds now.";
  WordStatus status;
  uint8_t b[4];
  for (uint32_t i = 0; i < words; ++i) {
    const uint32_t a = base + 4 * i;
    ReadWord(image, b, 4ull * i);
    const uint32_t value = RamValue(b);
    WriteFlash(s, a, value);
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.SetStatus(status.AddressValue(a, value));
    s.host.Repaint();
    s.host.ProcessMessages();
    s.CheckAbort(question);
  }
}

bool UploadTrapRoutine(Session& s, const std::string& loaderName, int waitMs,
                       const std::string& waitText) {
  const std::string path = (std::filesystem::path(s.loaderDir) / loaderName).string();
  // Read it whole first: one byte past the limit is enough to know it is too long.
  std::array<uint8_t, kLoaderMax + 1> code{};
  size_t n = 0;
  bool opened = false;
  std::string openError;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    opened = true;
    n = std::fread(code.data(), 1, code.size(), f);
    std::fclose(f);
  } else {
    openError = std::strerror(errno);
  }
  if (n < kLoaderMin || n > kLoaderMax) {
    // The box keeps its one wording for every loader; the log says what was wrong.
    s.host.MessageBox(MessageKind::Error, "Error opening TRAP.BIN !", Buttons::Ok);
    s.Log("Loader " + path + " not sent: " +
                   (!opened ? "cannot open it (" + openError + ")"
                            : (n > kLoaderMax ? std::string("more than 255 bytes")
                                              : std::to_string(n) + " bytes") +
                                  ", a loader must be 2 to 255 bytes long"));
    return false;
  }
  s.host.SetProgressPosition(0);
  s.host.SetProgressRange(0, static_cast<int>(n) - 1);
  s.host.SetStatus("Uploading trap routine...");
  s.host.Repaint();
  Link& link = s.link;
  link.SendByte(static_cast<uint8_t>(n & 0xFF));
  link.WaitSendDone();
  for (size_t i = 0; i < n; ++i) {
    link.SendByte(code[i]);
    link.WaitSendDone();
    s.host.SetProgressPosition(static_cast<int>(i));
  }
  s.host.SetProgressPosition(0);
  s.host.SetStatus(waitText);
  s.host.Repaint();
  // The loader gives no sign when it is done and the boot link is silent meanwhile: wait the
  // loader's whole time, with no messages processed so nothing else reaches the link.
  s.clock().SleepMilliseconds(waitMs);
  WaitForDecoder(s, loaderName, waitMs);
  return true;
}

void WaitForDecoder(Session& s, const std::string& loaderName, int waitMs) {
  const int64_t start = s.clock().Now();
  bool told = false;
  for (;;) {
    try {
      s.link.Peek(s.profile.profile().PioBase + kPioInput);
      return;
    } catch (const NoAdapterError&) {
      throw;  // the cable is out: waiting longer would not bring the decoder back
    } catch (const LinkError&) {
      // Still writing; each try waits as long as any other byte may take.
    }
    const int64_t waited = s.clock().Now() - start;
    if (waited >= kLoaderGraceUs) break;
    if (!told) {
      s.host.SetStatus("Waiting for the decoder to finish (up to " +
                       std::to_string(kLoaderGraceUs / 1'000'000) + " s)...");
      s.host.Repaint();
      told = true;
    }
    s.host.ProcessMessages();
    // However a try fails, it is never more often than this.
    s.clock().SleepMilliseconds(kRetryMs);
  }
  const int64_t total = (waitMs * 1000ll + kLoaderGraceUs) / 1'000'000;
  StopTransfer(s, "The decoder has not come back after the loader " + loaderName +
                      ": it has not answered for " + std::to_string(total) +
                      " s. It may still be writing: leave it switched on for a few minutes, "
                      "then read back what it holds before you try again.");
}

}  // namespace corvane
