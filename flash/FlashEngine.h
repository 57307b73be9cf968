#pragma once
#include <cstdint>

#include "target/Session.h"

namespace corvane {

// Bounds on the retries the flash engine makes before it logs the failure and returns.
// An erase pass polls about a thousand 1 ms sleeps; a whole-chip erase may need tens of
// seconds, so erase sequences may repeat many times.
extern const int kEraseSequenceLimit;
extern const int kProgramAttemptLimit;

// The general word read (image order: byte at the lowest address most significant).
uint32_t ReadFlash(Session& session, uint32_t address);
// The general word write (bus order: one plain poke).
void WriteFlash(Session& session, uint32_t address, uint32_t value);
void ResetFlash(Session& session);
void EraseFlash(Session& session, uint32_t address);
void EraseChip(Session& session, uint32_t address);
bool CheckSector(Session& session, uint32_t address);
// value in image order.
void ProgramFlash(Session& session, uint32_t address, uint32_t value);

inline uint32_t ByteSwap(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00) | ((v << 8) & 0xFF0000) | (v << 24);
}

}  // namespace corvane
