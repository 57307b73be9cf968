#pragma once
#include <cstdint>
#include <string>

#include "target/Files.h"
#include "target/Session.h"

// Reading a region of the decoder into a file, as the reads and the backups do it.
namespace corvane {

enum class WordOrder {
  Image,  // as Read Firmware saves the flash and Write Firmware takes it
  Bus,    // the file's bytes follow the decoder's addresses, as peeked
};

// Peeks `words` words from `start` into out; per word the address as status, progress i,
// and an abort check. Stops early when the file can no longer take data (the commit says
// why).
void ReadRegionToFile(Session& session, AtomicFile& out, uint32_t start, uint32_t words,
                      WordOrder order, const std::string& abortQuestion);

}  // namespace corvane
