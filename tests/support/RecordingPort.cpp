#include "support/RecordingPort.h"

#include "link/Text.h"

namespace corvane::testing {

uint8_t RecordingPort::PortIn(uint16_t port) {
  std::deque<uint8_t>* queue = nullptr;
  uint8_t value = 0;
  switch (port) {
    case kDataPort: queue = &dataReads; value = dataDefault; break;
    case kStatusPort: queue = &statusReads; value = statusDefault; break;
    case kControlPort: queue = &controlReads; value = controlDefault; break;
    case kEcrPort: queue = &ecrReads; value = ecrDefault; break;
    default: break;
  }
  if (queue && !queue->empty()) {
    value = queue->front();
    queue->pop_front();
  }
  log.push_back({false, port, value});
  return value;
}

void RecordingPort::PortOut(uint16_t port, uint8_t value) { log.push_back({true, port, value}); }

std::vector<std::string> RecordingPort::Lines() const {
  std::vector<std::string> out;
  for (const Access& a : log) {
    out.push_back(std::string(a.out ? "out " : "in ") + Hex(a.port, 3) + " " + Hex(a.value, 2));
  }
  return out;
}

}  // namespace corvane::testing
