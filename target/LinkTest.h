#pragma once
#include "target/Session.h"

namespace corvane {

// Tells a bad cable from a bad decoder: connects as a command does, then writes and reads
// back a scratch word of the selected model's RAM `rounds` times with varied patterns. Says
// which stage failed (no adapter; an adapter but no decoder; a decoder whose memory is not
// set up for the selected model), counts wrong round trips, and measures what a poke and a
// peek cost on this port; a clean run stores that for the time estimates. Ends with the
// port's modes when the port knows them, and after a failure on a port with EPP or ECP
// hardware enabled, the BIOS setting to use instead.
void LinkTest(Session& session, int rounds);

inline constexpr int kLinkTestRounds = 1000;

// Before a write that nothing else proves the link for: the model's scratch word is written
// with two patterns and read back, then given its old value again. False after one error
// message when what comes back is not what went out.
bool ProveRoundTrip(Session& session);

}  // namespace corvane
