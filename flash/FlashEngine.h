#pragma once
#include <cstdint>
#include <optional>

#include "flash/FlashModels.h"
#include "target/Session.h"

namespace corvane {

// Bounds on the retries the flash engine makes before it logs the failure and returns.
// An erase pass polls about a thousand 1 ms sleeps; a whole-chip erase may need tens of
// seconds, so its sequence may repeat many times, a sector's fewer.
extern const int kSectorEraseSequenceLimit;
extern const int kChipEraseSequenceLimit;
extern const int kProgramAttemptLimit;

// The general word read (image order: byte at the lowest address most significant).
uint32_t ReadFlash(Session& session, uint32_t address);
// A read that should give `expected`: when it does not, the word is read again until two
// reads agree, so a read the link corrupted is not taken for the flash's answer. Nothing
// when no two reads agree. On a clean link it costs one read, like ReadFlash.
// countNoise: false where the word may change by itself (an erase still running).
std::optional<uint32_t> ReadFlashExpecting(Session& session, uint32_t address, uint32_t expected,
                                           bool countNoise = true);
// Reads until two reads agree; nothing when none do.
std::optional<uint32_t> ReadFlashAgreed(Session& session, uint32_t address);
// The general word write (bus order: one plain poke).
void WriteFlash(Session& session, uint32_t address, uint32_t value);
void ResetFlash(Session& session);
// The erases and ProgramFlash log their failures and return false when the word at the
// address does not read erased, or as value, at the end.
// giveUpUs: the identified part's longest erase with a margin; a slow part is waited for
// that long even past the fixed pass limits (0: the limits alone).
bool EraseFlash(Session& session, uint32_t address, int64_t giveUpUs = 0);
// The sector erase of the board's command table wherever it has one, for the writes that
// leave unchanged sectors alone; false without one, or when the sector does not read erased.
bool EraseSector(Session& session, uint32_t address, int64_t giveUpUs = 0);
bool EraseChip(Session& session, uint32_t address, int64_t giveUpUs = 0);
// Whether either chip protects the sector at address; nothing when what the chips answered
// is no protection status (they are not in autoselect mode, or the link corrupts it).
std::optional<bool> CheckSector(Session& session, uint32_t address);
// value in image order. False only when the chips did not take it: a final read that
// differs is read again, and a read the link corrupted is a log line, not a failed word.
bool ProgramFlash(Session& session, uint32_t address, uint32_t value);
// Asks the chips who they are with the engine's own command addresses; zeros for a flash
// the engine never commands.
ChipId ReadChipId(Session& session);

}  // namespace corvane
