#include "flash/FlashEngine.h"

#include "flash/FlashModels.h"
#include "link/Text.h"

namespace corvane {

// A polling pass is about a thousand 1 ms sleeps plus as many peeks: at least one second,
// more on a slow link. The slowest whole-chip erase of the chips these boards carry takes
// tens of seconds (data sheets: 14-25 s typical for the 8 and 16 Mbit parts), so 120
// passes leave it several times its typical time before the erase is logged as failed.
// A sector erase takes about a second and at most 15 s by the same data sheets: 30 passes
// give it twice that, and a sector that will not erase (a protected one) costs half a
// minute, not two. Repeating the sequence during an embedded erase is harmless: the chips
// ignore commands until it ends.
const int kSectorEraseSequenceLimit = 30;
const int kChipEraseSequenceLimit = 120;
// An attempt waits at least 60 ms for a word the chips program in microseconds, so a
// failed attempt means a lost cycle on the link or a word that cannot be programmed; two
// retries cover the first, more would only slow down the second.
const int kProgramAttemptLimit = 3;

namespace {

constexpr uint32_t kErased = 0xFFFFFFFF;
constexpr int kErasePolls = 1000;   // a pass reads up to kErasePolls + 1 times
constexpr int kVerifyReads = 300;   // an attempt reads up to kVerifyReads + 1 times
constexpr int64_t kVerifyWaitUs = 200;

void Unlock(Session& s, const FlashModel& f) {
  WriteFlash(s, f.commandAddress, f.unlock1);
  WriteFlash(s, f.unlockAddress, f.unlock2);
}

void Command(Session& s, const FlashModel& f, uint32_t value) {
  Unlock(s, f);
  WriteFlash(s, f.commandAddress, value);
}

void LeadingReset(Session& s, const FlashModel& f) {
  if (f.leadingReset) WriteFlash(s, f.commandAddress, f.reset);
}

// Polls, rewrites the erase sequence while the word at `watched` does not read erased, and
// logs the failure once the limit is reached.
template <class Sequence>
bool EraseAndWatch(Session& s, uint32_t watched, int passes, int64_t giveUpUs,
                   Sequence&& sequence) {
  const int64_t start = s.clock().Now();
  for (int pass = 1;; ++pass) {
    sequence();
    int polls = 0;
    uint32_t value;
    do {
      s.clock().SleepMilliseconds(1);
      ++polls;
      value = ReadFlash(s, watched);
      // A chip erase takes tens of seconds: keep the window painted and an abort request
      // noticed (it is acted on between words, never inside this sequence).
      s.host.ProcessMessages();
    } while (value != kErased && polls <= kErasePolls);
    // A chip still erasing toggles its status bits: no link noise, only not done.
    if (ReadFlashExpecting(s, watched, kErased, false) == kErased) break;
    if (pass >= passes && s.clock().Now() - start >= giveUpUs) break;
  }
  if (ReadFlashExpecting(s, watched, kErased, false) == kErased) return true;
  s.Log("Erase error address : " + Hex8(watched));
  return false;
}

void SectorEraseSequence(Session& s, const FlashModel& f, uint32_t sector) {
  LeadingReset(s, f);
  Command(s, f, f.eraseSetup);
  Unlock(s, f);
  WriteFlash(s, sector, f.sectorErase);
}

void ChipEraseSequence(Session& s, const FlashModel& f) {
  LeadingReset(s, f);
  Command(s, f, f.eraseSetup);
  Command(s, f, f.chipErase);
}

}  // namespace

uint32_t ReadFlash(Session& s, uint32_t address) { return ByteSwap(s.link.Peek(address)); }

std::optional<uint32_t> ReadFlashExpecting(Session& s, uint32_t address, uint32_t expected,
                                           bool countNoise) {
  const uint32_t first = ReadFlash(s, address);
  if (first == expected) return first;
  const auto agreed = s.PeekAgreed(address, ByteSwap(first), countNoise);
  if (!agreed) return std::nullopt;
  return ByteSwap(*agreed);
}

std::optional<uint32_t> ReadFlashAgreed(Session& s, uint32_t address) {
  const auto agreed = s.PeekAgreed(address);
  if (!agreed) return std::nullopt;
  return ByteSwap(*agreed);
}

void WriteFlash(Session& s, uint32_t address, uint32_t value) { s.link.Poke(address, value); }

void ResetFlash(Session& s) {
  const FlashModel& f = FlashModelOf(s.model());
  if (!f.commanded) return;
  Command(s, f, f.reset);
  ReadFlash(s, f.readBackAddress);
  ReadFlash(s, f.readBackAddress);
}

bool EraseFlash(Session& s, uint32_t address, int64_t giveUpUs) {
  const FlashModel& f = FlashModelOf(s.model());
  // Without a sector erase there is nothing to wait for: polling would only run out the limit.
  if (!f.sectorCommands) return false;
  return EraseAndWatch(s, address, kSectorEraseSequenceLimit, giveUpUs,
                       [&] { SectorEraseSequence(s, f, address); });
}

bool EraseSector(Session& s, uint32_t address, int64_t giveUpUs) {
  const FlashModel& f = FlashModelOf(s.model());
  if (!f.commanded || f.sectorErase == 0) return false;
  return EraseAndWatch(s, address, kSectorEraseSequenceLimit, giveUpUs,
                       [&] { SectorEraseSequence(s, f, address); });
}

bool EraseChip(Session& s, uint32_t address, int64_t giveUpUs) {
  const FlashModel& f = FlashModelOf(s.model());
  switch (f.eraseChip) {
    case EraseMethod::None:
      return false;
    case EraseMethod::Sector:
      return EraseAndWatch(s, address, kSectorEraseSequenceLimit, giveUpUs,
                           [&] { SectorEraseSequence(s, f, address); });
    case EraseMethod::Chip:
      return EraseAndWatch(s, address, kChipEraseSequenceLimit, giveUpUs, [&] { ChipEraseSequence(s, f); });
  }
  return false;
}

std::optional<bool> CheckSector(Session& s, uint32_t address) {
  const FlashModel& f = FlashModelOf(s.model());
  // Read-array data at A + 8 says nothing about protection; only ask where the command exists.
  if (!f.sectorCommands) return false;
  Command(s, f, f.autoselect);
  const std::optional<uint32_t> status = ReadFlashExpecting(s, address + 8, 0);
  ResetFlash(s);
  // In autoselect mode each chip answers 0 or 1 there: anything else is array data.
  const uint32_t flags = ProtectionBits(f);
  if (!status || (*status & ~flags) != 0) return std::nullopt;
  return (*status & flags) != 0;
}

ChipId ReadChipId(Session& s) {
  const FlashModel& f = FlashModelOf(s.model());
  if (!f.commanded) return {};
  LeadingReset(s, f);
  Command(s, f, f.autoselect);
  // Erasing is decided on these words: they are taken only when two reads agree.
  ChipId id;
  const auto manufacturer = ReadFlashAgreed(s, f.readBackAddress);
  const auto device = ReadFlashAgreed(s, f.readBackAddress + 4);
  ResetFlash(s);
  id.manufacturer = manufacturer.value_or(0);
  id.device = device.value_or(0);
  id.agreed = manufacturer && device;
  return id;
}

bool ProgramFlash(Session& s, uint32_t address, uint32_t value) {
  const FlashModel& f = FlashModelOf(s.model());
  if (!f.commanded) return false;
  const uint32_t bus = ByteSwap(value);
  for (int attempt = 1; attempt <= kProgramAttemptLimit; ++attempt) {
    LeadingReset(s, f);
    Command(s, f, f.program);
    WriteFlash(s, address, bus);
    int reads = 0;
    uint32_t read;
    do {
      s.link.DelayMicroseconds(kVerifyWaitUs);
      ++reads;
      read = ReadFlash(s, address);
    } while (read != value && reads <= kVerifyReads);
    if (read == value) break;
    s.Log("Programming failed " + Hex8(address) + " Read: " + Hex8(read) +
               " Should be: " + Hex8(value));
    ResetFlash(s);
  }
  const uint32_t last = ReadFlash(s, address);
  if (last == value) return true;
  s.Log("Data not equal!!!!!!!!!! " + Hex8(address) + " : " + Hex8(last) + " / " + Hex8(value));
  // Only a read that agrees with another says the chips did not take the word.
  const auto again = s.PeekAgreed(address, ByteSwap(last));
  if (again && ByteSwap(*again) != value) return false;
  s.Log("Read again " + Hex8(address) + " : " +
        (again ? Hex8(ByteSwap(*again)) : std::string("no two reads agree")) +
        ": the link corrupted the read, not the flash");
  return true;
}

}  // namespace corvane
