#pragma once
#include <cstdint>
#include <vector>

#include "target/Session.h"

namespace corvane {

struct RegisterWrite {
  uint32_t address;
  uint32_t value;
};

// The memory-interface set-up of a decoder type, as the pokes that make it.
std::vector<RegisterWrite> MemoryInterfaceWrites(int decoderType, bool reloaded);

void MemoryInterfaceSetup(Link& link, int decoderType, bool reloaded);

// Opens the link, resets the decoder and sets up its memory interface. False, after one
// message, when the decoder does not answer.
bool Connect(Session& session);
void Disconnect(Session& session);

// Closes the connection when a command leaves, on every path.
class ConnectionGuard {
 public:
  explicit ConnectionGuard(Session& session) : session_(session) {}
  ~ConnectionGuard() { Disconnect(session_); }
  ConnectionGuard(const ConnectionGuard&) = delete;
  ConnectionGuard& operator=(const ConnectionGuard&) = delete;

 private:
  Session& session_;
};

// The last step of every command's closing: progress back to 0, status empty.
class StatusGuard {
 public:
  explicit StatusGuard(Host& host) : host_(host) {}
  ~StatusGuard() {
    host_.SetTimeBudget(0, nullptr);
    host_.SetPhase("", 0);
    host_.SetProgressPosition(0);
    host_.SetStatus("");
  }
  StatusGuard(const StatusGuard&) = delete;
  StatusGuard& operator=(const StatusGuard&) = delete;

 private:
  Host& host_;
};

}  // namespace corvane
