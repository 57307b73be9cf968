#include "eeprom/EepromCommands.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "eeprom/corvane_ee.h"
#include "link/Text.h"
#include "target/Connection.h"
#include "target/Files.h"
#include "target/LinkCost.h"

namespace corvane {

namespace {

constexpr const char* kEepromFilter = "Eeprom file (*.bin) | *.BIN";
constexpr int32_t kAckTries = 10000;
constexpr uint32_t kPioMode = 0x20;
constexpr uint32_t kPioModeEeprom = 7;
constexpr uint8_t kControlWrite = 0xA0;
constexpr uint8_t kControlRead = 0xA1;

constexpr const char* kReadAbortQuestion =
    "Stop reading the EEPROM? The file will not be written; an existing file keeps its old "
    "contents.";
constexpr const char* kWriteAbortQuestion =
    "Stop writing the EEPROM? It keeps the pages written so far; the rest of it, including "
    "the page being written now, keeps its old bytes.";

constexpr const char* kVerifyAbortQuestion =
    "Stop verifying the EEPROM? It has been written; only the check that it holds the file is "
    "skipped.";

constexpr const char* kNothingWritten = "Nothing was written to the EEPROM.";

// Hands the PIO pins back to the decoder after the command, on every path. It runs after
// Disconnect, as the decoder expects; on a dead link it must not throw out of a destructor.
class PioModeGuard {
 public:
  PioModeGuard(Link& link, uint32_t pioBase) : link_(link), pioBase_(pioBase) {}
  ~PioModeGuard() {
    try {
      link_.Poke(pioBase_ + kPioMode, 0);
    } catch (...) {
      // The link is gone; the command has already said so.
    }
  }
  PioModeGuard(const PioModeGuard&) = delete;
  PioModeGuard& operator=(const PioModeGuard&) = delete;

 private:
  Link& link_;
  uint32_t pioBase_;
};

void ShowError(Session& s, const std::string& text) {
  s.host.MessageBox(MessageKind::Error, text, Buttons::Ok);
}

// Connects and takes over the PIO pins; false when the decoder did not answer.
bool OpenBus(Session& s) {
  s.host.SetStatus("Connecting...");
  s.host.Repaint();
  // The bus keeps its own copy of where the pins are, taken when the command connects.
  s.ee.EePioBase = s.profileRow().PioBase;
  return Connect(s);
}

// The whole EEPROM in one sequential read: a dummy write sets the address counter to 0, a
// repeated start reads on across blocks. Each byte goes to take(address, byte), which may
// end the read early by returning false. False when the read control byte was not
// acknowledged.
template <class Take>
bool ReadAll(Session& s, const char* abortQuestion, Take&& take) {
  const Profile& profile = s.profileRow();
  EeBus& ee = s.ee;
  const uint32_t last = profile.EepromLastAddress;
  ee.EeStart();
  ee.EeSendByte(kControlWrite);
  ee.EeWaitAck(kAckTries);
  if (profile.EepromWideAddress == 1) {
    ee.EeSendByte(0x00);
    ee.EeWaitAck(kAckTries);
  }
  ee.EeSendByte(0x00);
  ee.EeWaitAck(kAckTries);
  ee.EeStart();
  ee.EeSendByte(kControlRead);
  const bool acked = ee.EeWaitAck(kAckTries);
  if (acked) {
    for (uint32_t a = 0; a <= last; ++a) {
      s.host.SetProgressPosition(static_cast<int>(a));
      s.host.SetStatus(Hex4(a));
      if (!take(a, ee.EeReceiveByte())) break;
      s.host.ProcessMessages();
      try {
        s.CheckAbort(abortQuestion);
      } catch (const AbortError&) {
        // Not acknowledged yet: a no-acknowledge and a stop end the read cleanly.
        ee.EeNoAck();
        ee.EeStop();
        throw;
      }
      if (a < last) ee.EeAck();
    }
  }
  ee.EeNoAck();
  ee.EeStop();
  return acked;
}

void TakeBus(Session& s, uint32_t pioBase) {
  s.link.Poke(pioBase + kPioMode, kPioModeEeprom);
  s.ee.EeSetSda(1);
  s.ee.EeSetScl(1);
}

// What the bus's bit-banging sends per byte, counted on the virtual decoder: a sequential
// read clocks nine bits in and out, a page write nine bits out and an acknowledge in.
constexpr double kReadPokesPerByte = 27, kReadPeeksPerByte = 8;
constexpr double kWritePokesPerByte = 34, kWritePeeksPerByte = 2;

double ReadUs(const Session& s, uint64_t bytes) {
  return static_cast<double>(bytes) *
         (kReadPokesPerByte * s.linkCost.PokeUs() + kReadPeeksPerByte * s.linkCost.PeekUs());
}

// The time left and the phase follow one part of the write from here.
void BeginPart(Session& s, const char* name, double phaseUs, double afterUs) {
  const double planned = static_cast<double>(s.plannedUs);
  s.host.SetPhase(name, planned > 0 ? static_cast<int>(std::lround(100 * phaseUs / planned)) : 0);
  s.host.SetTimeBudget(std::llround(phaseUs), &s.clock(), std::llround(afterUs));
}

// Reads the EEPROM twice into held and saves it as a backup, as the flash writes do: a new
// backup-MODEL-eeprom-DATE-TIME.bin beside the firmware log, or the named file, which must
// not exist. The backup's path; "" when none was asked for; nothing after a message (the
// EEPROM was not written).
std::optional<std::string> BackUpEeprom(Session& s, std::vector<uint8_t>& held) {
  if (!s.backup) return std::string();
  AtomicFile out;
  std::string error;
  const bool named = !s.backup->empty();
  std::string path = *s.backup;
  if (!named) {
    path = s.logDir.empty() ? UserDataFolder() : s.logDir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += "backup-" + ModelFolderName(s.model()) + "-eeprom-" + TimeStamp("%Y%m%d-%H%M%S") + ".bin";
  }
  if (!out.Open(path, &error, named ? Taken::Refuse : Taken::Number)) {
    ShowError(s, "Cannot save the backup: " + error + ". " + kNothingWritten);
    return std::nullopt;
  }
  std::vector<uint8_t> again(held.size());
  for (std::vector<uint8_t>* into : {&held, &again}) {
    s.host.SetStatus("Backing up...");
    s.host.SetProgressPosition(0);
    const bool acked = ReadAll(s, "Stop the backup? Nothing has been written to the EEPROM yet.",
                               [&](uint32_t a, uint8_t b) {
                                 (*into)[a] = b;
                                 return true;
                               });
    if (!acked) {
      ShowError(s, "Cannot save the backup: the EEPROM did not answer the read (NO ACK). " +
                       std::string(kNothingWritten));
      return std::nullopt;
    }
  }
  // The second read proves the first, as a flash backup is proven.
  if (held != again) {
    ShowError(s, "Cannot save the backup: the EEPROM read differently twice. The link corrupts "
                 "data: check the cable and the port with the link test (" + s.shellCommand +
                     " link-test). " + kNothingWritten);
    return std::nullopt;
  }
  out.Write(held.data(), held.size());
  if (!out.Commit(&error)) {
    ShowError(s, "Cannot save the backup: " + error + ". " + kNothingWritten);
    return std::nullopt;
  }
  s.host.FileWritten(out.path());
  return out.path();
}

}  // namespace

void ReadEeprom(Session& s) {
  RunCommand(s, [&] {
    if (!OpenBus(s)) return;
    const Profile& profile = s.profile.profile();
    PioModeGuard mode(s.link, profile.PioBase);  // destroyed last
    StatusGuard status(s.host);
    ConnectionGuard connection(s);
    TakeBus(s, profile.PioBase);
    FilterGuard filter(s.host, Dialog::Save, kEepromFilter);  // restored first
    const auto path = s.host.RunDialog(Dialog::Save);
    if (!path) return;

    AtomicFile file;
    if (!OpenOutput(s.host, file, *path)) return;
    const uint32_t last = profile.EepromLastAddress;
    s.host.SetStatus("Reading Eeprom...");
    s.host.SetProgressRange(0, static_cast<int>(last));
    s.host.SetProgressPosition(0);

    const bool acked = ReadAll(s, kReadAbortQuestion, [&](uint32_t, uint8_t b) {
      file.Write(&b, 1);
      return file.ok();  // the commit says why; reading on would only waste time
    });
    if (!acked) ShowError(s, "NO ACK");

    // Nothing was read: no empty file under the chosen name, an existing one stays as it was.
    if (!acked) return;
    if (!CommitOutput(s.host, file)) return;
    s.host.MessageBox(MessageKind::Information, "Reading Eeprom completed.", Buttons::Ok);
  });
}

void WriteEeprom(Session& s) {
  RunCommand(s, [&] {
    if (!OpenBus(s)) return;
    const Profile& profile = s.profile.profile();
    EeBus& ee = s.ee;
    PioModeGuard mode(s.link, profile.PioBase);
    StatusGuard status(s.host);
    ConnectionGuard connection(s);
    TakeBus(s, profile.PioBase);
    FilterGuard filter(s.host, Dialog::Open, kEepromFilter);
    const auto path = s.host.RunDialog(Dialog::Open);
    if (!path) return;

    // The whole image is read and checked before the EEPROM sees a single byte.
    const uint32_t last = profile.EepromLastAddress;
    const uint64_t size = uint64_t{last} + 1;
    std::vector<uint8_t> image(size);
    {
      ImageReader reader;
      std::string error;
      if (!reader.Open(*path, &error)) {
        ShowError(s, error + ". " + kNothingWritten);
        return;
      }
      if (reader.size() < size) {
        ShowError(s, "The EEPROM file " + *path + " is too short: " + profile.caption + " needs " +
                         std::to_string(size) + " bytes, the file has " +
                         std::to_string(reader.size()) + ". " + kNothingWritten);
        return;
      }
      if (!UseFirstPartOf(s.host, "EEPROM file", *path, reader.size(), size, profile.caption)) {
        return;
      }
      if (!reader.Read(image.data(), image.size())) {
        ShowError(s, "Reading the EEPROM file " + *path + " failed. " + kNothingWritten);
        return;
      }
    }

    const bool wide = profile.EepromWideAddress == 1;
    const uint32_t pageSize = wide ? 32 : 16;
    const uint32_t pageCount = static_cast<uint32_t>(size / pageSize);

    // The estimate, as the flash writes give theirs; the EEPROM's write cycle is about 5 ms
    // a page.
    const double backupUs = s.backup ? 2 * ReadUs(s, size) : 0;
    const double writeUs = static_cast<double>(size) * (kWritePokesPerByte * s.linkCost.PokeUs() +
                                                        kWritePeeksPerByte * s.linkCost.PeekUs()) +
                           pageCount * 5000.0;
    const double readBackUs = s.verifyAfterWrite ? ReadUs(s, size) : 0;
    std::string parts = (s.backup ? "back-up " + DurationText(std::llround(backupUs)) + ", " : std::string()) +
                        "write " + DurationText(std::llround(writeUs)) +
                        (s.verifyAfterWrite ? ", read-back " + DurationText(std::llround(readBackUs)) : std::string());
    char cost[64];
    std::snprintf(cost, sizeof cost, "%.2f", s.linkCost.usPerAccess);
    if (s.host.AnnounceDuration("Write eeprom on " + std::string(profile.caption) + " takes " +
                                    DurationText(std::llround(backupUs + writeUs + readBackUs)) + ": " + parts + " (" +
                                    cost + " µs a port access).",
                                true) != Answer::Yes) {
      return;
    }
    s.plannedUs = std::llround(backupUs + writeUs + readBackUs);
    s.host.SetProgressRange(0, static_cast<int>(last));
    std::vector<uint8_t> held(size);
    if (s.backup) BeginPart(s, "EEPROM back-up", backupUs, writeUs + readBackUs);
    const auto backup = BackUpEeprom(s, held);
    if (!backup) return;
    const std::string restore =
        backup->empty() ? std::string()
                        : " What it held before is saved in " + *backup + ". To put it back, "
                          "choose Eeprom > Write eeprom with that file, or run: " +
                              s.shellCommand + " write-eeprom " + ShellQuoted(*backup);
    // Whatever ends the command from here on, short of completion, offers the backup back.
    struct WayBack {
      Session& s;
      const std::string& backup;
      bool done = false;
      ~WayBack() {
        if (!done) s.restoreFrom = backup;
      }
    } wayBack{s, *backup};
    BeginPart(s, "EEPROM write", writeUs, readBackUs);
    s.host.SetStatus("Writing Eeprom...");
    s.host.SetProgressPosition(0);

    uint16_t page = 0;
    // A refused data byte ends that page's data only; the next page still takes its own
    // bytes (the image index is the EEPROM address). Any error means no completion message,
    // and "NO ACK4" is shown once. Two pages in a row that refuse their data are a
    // write-protected part: the write ends there instead of trying every page.
    bool failed = false;
    bool dataRefused = false;
    int refusedPages = 0;
    for (uint32_t n = 0; n < pageCount && !failed; ++n) {
      ee.EeStart();
      const uint8_t control =
          wide ? kControlWrite : static_cast<uint8_t>(kControlWrite | (((page >> 8) & 7) << 1));
      ee.EeSendByte(control);
      if (!ee.EeWaitAck(kAckTries)) {
        ShowError(s, "NO ACK1");
        failed = true;
        break;
      }
      if (wide) {
        ee.EeSendByte(static_cast<uint8_t>(page >> 8));
        if (!ee.EeWaitAck(kAckTries)) {
          ShowError(s, "NO ACK2");
          failed = true;
          break;
        }
      }
      ee.EeSendByte(static_cast<uint8_t>(page));
      if (!ee.EeWaitAck(kAckTries)) {
        ShowError(s, "NO ACK3");
        failed = true;
        break;
      }
      bool pageRefused = false;
      for (uint32_t k = 0; k < pageSize; ++k) {
        const uint32_t at = page + k;
        s.host.SetProgressPosition(static_cast<int>(at));
        s.host.SetStatus(Hex4(at));
        // The image index is the EEPROM address: after a short page the next one still
        // takes its own bytes.
        ee.EeSendByte(image[at]);
        if (!ee.EeWaitAck(kAckTries)) {
          if (!dataRefused) ShowError(s, "NO ACK4");
          dataRefused = pageRefused = true;
          break;
        }
        s.host.ProcessMessages();
        try {
          s.CheckAbort(kWriteAbortQuestion);
        } catch (const AbortError&) {
          // A start before the stop drops the bytes loaded into the page buffer.
          ee.EeStart();
          ee.EeStop();
          throw;
        }
      }
      ee.EeStop();
      // The bytes before a refused one are in the page buffer: let them be written.
      if (ee.EePollReady(profile.EepromWideAddress, 0, page)) {
        ShowError(s, "POLL FAIL");
        failed = true;
        break;
      }
      refusedPages = pageRefused ? refusedPages + 1 : 0;
      if (refusedPages == 2) break;
      page = static_cast<uint16_t>(page + pageSize);
      s.host.ProcessMessages();
    }
    if (failed || dataRefused) return;
    // Many parts acknowledge every byte while write-protected and keep what they hold: only
    // reading it back shows whether the write took.
    if (s.verifyAfterWrite) {
      BeginPart(s, "EEPROM read-back", readBackUs, 0);
      s.host.SetStatus("Verifying...");
      s.host.SetProgressPosition(0);
      uint64_t differ = 0;
      uint32_t first = 0;
      const bool answered = ReadAll(s, kVerifyAbortQuestion, [&](uint32_t a, uint8_t b) {
        if (b != image[a] && differ++ == 0) first = a;
        return true;
      });
      if (!answered) {
        ShowError(s, "Verify failed: the EEPROM did not answer the read-back (NO ACK)." + restore);
        return;
      }
      if (differ != 0) {
        ShowError(s, "Verify failed: " + std::to_string(differ) +
                         (differ == 1 ? " byte differs" : " bytes differ") + ", first at " +
                         Hex4(first) + ". The EEPROM may be write-protected." + restore);
        return;
      }
    }
    wayBack.done = true;
    if (s.verifyAfterWrite) s.verifiedBytes = size;
    s.host.MessageBox(MessageKind::Information,
                      "Writing Eeprom completed." +
                          (s.verifyAfterWrite ? " Read back and verified: " + SizeText(size) + "."
                                              : std::string()) +
                          (backup->empty() ? std::string()
                                           : " What it held before is saved in " + *backup + "."),
                      Buttons::Ok);
  });
}

}  // namespace corvane
