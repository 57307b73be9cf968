#pragma once
#include <cstdint>

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
// The general word write (bus order: one plain poke).
void WriteFlash(Session& session, uint32_t address, uint32_t value);
void ResetFlash(Session& session);
// The erases and ProgramFlash log their failures and return false when the word at the
// address does not read erased, or as value, at the end.
bool EraseFlash(Session& session, uint32_t address);
bool EraseChip(Session& session, uint32_t address);
bool CheckSector(Session& session, uint32_t address);
// value in image order.
bool ProgramFlash(Session& session, uint32_t address, uint32_t value);
// Asks the chips who they are with the engine's own command addresses; zeros for a flash
// the engine never commands.
ChipId ReadChipId(Session& session);

}  // namespace corvane
