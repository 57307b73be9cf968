#include "target/LinkTest.h"

#include <cstdio>
#include <filesystem>
#include <optional>

#include "link/Text.h"
#include "target/Connection.h"

namespace corvane {

namespace {

// All bits low and high, alternating, a walking one and zero, the round's own number mixed
// with the address, and pseudo-random words.
uint32_t Pattern(uint32_t round, uint32_t address, uint32_t* random) {
  const uint32_t bit = 1u << ((round / 8) % 32);
  switch (round % 8) {
    case 0: return 0x00000000;
    case 1: return 0xFFFFFFFF;
    case 2: return 0xAAAAAAAA;
    case 3: return 0x55555555;
    case 4: return bit;
    case 5: return ~bit;
    case 6: return address ^ (round * 0x9E3779B9u);
    default:
      *random = *random * 1664525u + 1013904223u;
      return *random;
  }
}

// Puts the scratch word's old value back on every way out but a dead link.
class ScratchGuard {
 public:
  ScratchGuard(Session& s, uint32_t address, uint32_t value)
      : s_(s), address_(address), value_(value) {}
  ~ScratchGuard() {
    try {
      for (int attempt = 0; attempt < 3; ++attempt) {
        s_.link.Poke(address_, value_);
        if (s_.PeekAgreed(address_) == value_) return;
      }
    } catch (const LinkError&) {
      // The link is gone; the command has said so.
    }
  }
  ScratchGuard(const ScratchGuard&) = delete;
  ScratchGuard& operator=(const ScratchGuard&) = delete;

 private:
  Session& s_;
  uint32_t address_, value_;
};

bool HasMode(const std::string& modes, const std::string& mode) {
  return ("," + modes + ",").find("," + mode + ",") != std::string::npos;
}

// The port's modes, for the end of a result. The handshake drives the port's registers byte
// by byte, as a bidirectional port has them; EPP and ECP hardware that the BIOS turned on
// may upset that, so a failure the port's mode may explain says what to set on such a port.
// Nothing when the port cannot tell (the virtual decoder, direct I/O).
std::string ModesText(const std::optional<std::string>& modes, bool modeMayMatter) {
  if (!modes) return {};
  std::string text = " The port's modes, as the kernel found them: " +
                     (modes->empty() ? std::string("none") : *modes) + ".";
  const bool epp = HasMode(*modes, "EPP"), ecp = HasMode(*modes, "ECP");
  if (modeMayMatter && (epp || ecp)) {
    text += std::string(" Its ") + (epp && ecp ? "EPP and ECP" : epp ? "EPP" : "ECP") +
            " hardware is enabled, which may get in the way of the byte-mode handshake: set the "
            "parallel port to bidirectional / PS/2 / byte mode (or SPP with bidirectional) in "
            "the BIOS.";
  }
  return text;
}

std::string Number(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

bool ProveRoundTrip(Session& s) {
  const uint32_t scratch = s.profileRow().scratchWord;
  const std::optional<uint32_t> saved = s.PeekAgreed(scratch);
  auto refuse = [&](const std::string& what) {
    s.host.MessageBox(MessageKind::Error,
                      "Nothing was erased or written: " + what +
                          " The port or the cable does not carry the decoder's answers: run the "
                          "link test (Debug > Link Test, or " + s.shellCommand +
                          " link-test) to see which.",
                      Buttons::Ok);
    return false;
  };
  if (!saved) return refuse(Hex8(scratch) + " of the decoder's RAM read differently each time.");
  ScratchGuard restore(s, scratch, *saved);
  for (const uint32_t pattern : {0x5AA5C33Cu, 0xA55A3CC3u}) {
    s.link.Poke(scratch, pattern);
    const std::optional<uint32_t> read = s.PeekAgreed(scratch);
    if (read != pattern) {
      return refuse("a word written to the decoder's RAM at " + Hex8(scratch) +
                    " did not come back (wrote " + Hex8(pattern) + ", read " +
                    (read ? Hex8(*read) : std::string("a different word each time")) + ").");
    }
  }
  return true;
}

void LinkTest(Session& s, int rounds) {
  const std::string caption = ProfileOf(s.model()).caption;
  const std::optional<std::string> modes = s.link.io().Modes();
  // Known modes tell for themselves whether the BIOS setting may be to blame.
  const std::string cable = std::string("the cable (short and whole)") +
                            (modes ? "" : " and the port's mode in the BIOS (bidirectional, "
                                          "PS/2 or byte mode)");
  auto fail = [&](const std::string& text, bool modeMayMatter = true) {
    s.host.MessageBox(MessageKind::Error, "Link test: " + text + ModesText(modes, modeMayMatter),
                      Buttons::Ok);
  };
  RunCommand(s, [&] {
    Link& link = s.link;
    StatusGuard status(s.host);
    s.host.SetStatus("Connecting...");
    s.host.Repaint();
    link.LinkOpen();
    ConnectionGuard connection(s);
    link.ResetTarget();

    // The set-up pokes one by one: how far they get tells the adapter from the decoder.
    const auto writes = MemoryInterfaceWrites(s.profile.profile().DecoderType, s.profile.reloaded);
    size_t done = 0;
    try {
      for (const RegisterWrite& w : writes) {
        link.Poke(w.address, w.value);
        ++done;
      }
    } catch (const NoAdapterError&) {
      fail("no adapter answers: the port's lines read as if nothing were plugged in. Check "
           "that the adapter cable is plugged into the parallel port and into the decoder.",
           false);
      return;
    } catch (const LinkError&) {
      fail(std::string("an adapter is on the port, but the decoder ") +
           (done == 0 ? "took no byte"
                      : "stopped answering after " + std::to_string(done) + " of the " +
                            std::to_string(writes.size()) + " set-up writes") +
           ". Check that the decoder is switched on and waiting in its boot state, and that "
           "the cable reaches its boot connector.");
      return;
    }

    const uint32_t scratch = s.profileRow().scratchWord;
    s.host.SetStatus("Link test " + Hex8(scratch) + "...");
    s.host.SetProgressRange(0, rounds);
    s.host.SetProgressPosition(0);
    s.host.Repaint();
    int round = 0;
    int wrong = 0;
    uint32_t firstWrote = 0, firstRead = 0;
    int firstRound = 0;
    bool oneValue = true;  // every read gave the same word, whatever was written
    uint32_t lastRead = 0;
    uint64_t pokeAccesses = 0, peekAccesses = 0;
    int64_t linkUs = 0;
    uint32_t random = 0x2545F491;
    try {
      // The word belongs to the decoder: what it holds is read until two reads agree, and
      // put back however the test ends, a stop request included.
      const std::optional<uint32_t> saved = s.PeekAgreed(scratch);
      if (!saved) {
        fail("the link corrupts data: " + Hex8(scratch) + " read differently " +
             std::to_string(Session::kAgreeReads) +
             " times. Check " + cable + ". Nothing was changed on the decoder.");
        return;
      }
      ScratchGuard restore(s, scratch, *saved);
      for (; round < rounds; ++round) {
        const uint32_t value = Pattern(static_cast<uint32_t>(round), scratch, &random);
        const uint64_t a0 = link.accesses;
        const int64_t t0 = s.clock().Now();
        link.Poke(scratch, value);
        const uint64_t a1 = link.accesses;
        const uint32_t read = link.Peek(scratch);
        linkUs += s.clock().Now() - t0;
        pokeAccesses += a1 - a0;
        peekAccesses += link.accesses - a1;
        if (round > 0 && read != lastRead) oneValue = false;
        lastRead = read;
        if (read != value && wrong++ == 0) {
          firstRound = round + 1;
          firstWrote = value;
          firstRead = read;
        }
        s.host.SetProgressPosition(round);
        s.host.ProcessMessages();
        s.CheckAbort("Stop the link test? The word it uses gets its old value back; nothing else "
                     "is changed on the decoder.");
      }
    } catch (const NoAdapterError&) {
      fail("the adapter went away after " + std::to_string(round) +
           " round trips: the port's lines now read as if nothing were plugged in. Check the "
           "cable's plugs.",
           false);
      return;
    } catch (const LinkError&) {
      fail("the decoder stopped answering after " + std::to_string(round) +
           " round trips. Check the decoder's power and the cable's plugs.");
      return;
    }

    // A word that reads the same whatever is written is no memory: the decoder answers, but
    // its memory interface is not set up for what it is.
    if (wrong != 0 && oneValue) {
      fail("the decoder answers, but " + Hex8(scratch) + " never holds what is written (wrote " +
           Hex8(firstWrote) + ", read " + Hex8(firstRead) +
           "): its memory is not set up for a " + caption +
           ". Check that the decoder on the cable is a " + caption + ".",
           false);
      return;
    }

    LinkCost cost;
    cost.accessesPerPoke = static_cast<double>(pokeAccesses) / rounds;
    cost.accessesPerPeek = static_cast<double>(peekAccesses) / rounds;
    cost.usPerAccess = static_cast<double>(linkUs) / static_cast<double>(pokeAccesses + peekAccesses);
    cost.measured = true;
    const std::string measured = "A port access takes " + Number("%.2f", cost.usPerAccess) +
                                 " µs here (" + Number("%.1f", cost.accessesPerPoke) +
                                 " accesses a poke, " + Number("%.1f", cost.accessesPerPeek) +
                                 " a peek).";
    if (wrong != 0) {
      fail(std::to_string(wrong) + " of " + std::to_string(rounds) +
           " round trips to " + Hex8(scratch) + " came back wrong; the first, round trip " +
           std::to_string(firstRound) + ", wrote " + Hex8(firstWrote) + " and read " +
           Hex8(firstRead) + ". The link corrupts data: check " + cable + ". " + measured);
      return;
    }
    std::string kept = " Time estimates use this from now on.";
    if (!s.linkCostPath.empty()) {
      std::error_code ec;
      std::filesystem::create_directories(std::filesystem::path(s.linkCostPath).parent_path(), ec);
      std::string error;
      if (!SaveLinkCost(s.linkCostPath, cost, &error)) kept = " It could not be kept: " + error + ".";
    } else {
      kept.clear();
    }
    s.linkCost = cost;
    s.host.MessageBox(MessageKind::Information,
                      "Link test passed: " + std::to_string(rounds) + " round trips to " +
                          Hex8(scratch) + ", no errors. " + measured + kept +
                          ModesText(modes, false),
                      Buttons::Ok);
  });
}

}  // namespace corvane
