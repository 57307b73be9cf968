#pragma once
#include "eeprom/corvane_ee.h"
#include "link/corvane.h"
#include "support/FakeDecoderPort.h"
#include "support/RecordingPort.h"
#include "support/ScriptedHost.h"
#include "target/Session.h"

namespace corvane::testing {

// A session over the ideal fake decoder: for tests of exact link traffic.
struct FakeRig {
  explicit FakeRig(Model model = Model::BCT13) {
    session.profile.model = model;
  }
  FakeDecoderPort port;
  ManualClock clock;
  Link link{port, clock};
  EeBus ee{link};
  ScriptedHost host;
  Session session{link, ee, host, ProfileSnapshot{}, {}, {}};
};

}  // namespace corvane::testing
