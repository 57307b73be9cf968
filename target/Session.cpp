#include "target/Session.h"

namespace corvane {

void Session::CheckAbort(const std::string& question) {
  if (!host.AbortRequested()) return;
  if (host.MessageBox(MessageKind::Confirmation, question, Buttons::YesNo) == Answer::Yes) {
    throw AbortError();
  }
}

std::optional<uint32_t> Session::PeekAgreed(uint32_t address, std::optional<uint32_t> first,
                                            bool countNoise) {
  uint32_t reads[kAgreeReads];
  int n = 0;
  if (first) reads[n++] = *first;
  for (; n < kAgreeReads; ++n) {
    reads[n] = link.Peek(address);
    for (int k = 0; k < n; ++k) {
      if (reads[k] != reads[n]) continue;
      // Every read before the agreeing pair but the one it agrees with was corrupted.
      if (countNoise) linkNoise += static_cast<uint64_t>(n - 1);
      return reads[n];
    }
  }
  if (countNoise) linkNoise += kAgreeReads;
  return std::nullopt;
}

}  // namespace corvane

namespace corvane {

ReadMeter::ReadMeter(Session& s)
    : session_(s), accesses_(s.link.accesses), peeks_(s.link.peeks), start_(s.clock().Now()) {}

bool ReadMeter::Finish() {
  if (done_) return false;
  done_ = true;
  Session& s = session_;
  if (!TakeReadMeasurement(&s.linkCost, s.link.accesses - accesses_, s.link.peeks - peeks_,
                           s.clock().Now() - start_)) {
    return false;
  }
  // A cache of the port's speed: a file that cannot be kept only costs the next estimate.
  if (!s.linkCostPath.empty()) SaveLinkCost(s.linkCostPath, s.linkCost, nullptr);
  return true;
}

}  // namespace corvane
