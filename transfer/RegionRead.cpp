#include "transfer/RegionRead.h"

#include "flash/FlashEngine.h"
#include "transfer/ImageFile.h"
#include "transfer/WordStatus.h"

namespace corvane {

void ReadRegionToFile(Session& s, AtomicFile& out, uint32_t start, uint32_t words,
                      WordOrder order, const std::string& abortQuestion) {
  WordStatus status;
  uint8_t b[4];
  ReadMeter meter(s);  // every read teaches the estimates what this port costs
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
    if (!out.ok()) return;
    s.host.SetProgressPosition(static_cast<int>(i));
    s.host.SetStatus(status.Address(a));
    s.host.ProcessMessages();
    s.CheckAbort(abortQuestion);
  }
}

}  // namespace corvane
