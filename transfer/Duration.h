#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "target/LinkCost.h"
#include "target/Session.h"

namespace corvane {

// How long a command will take on this port, in named parts, from the pokes and peeks it
// will send, what a poke and a peek cost here, and the waits it makes.
class Duration {
 public:
  explicit Duration(const LinkCost& cost) : cost_(cost) {}

  double Pokes(double n) const { return n * cost_.PokeUs(); }
  double Peeks(double n) const { return n * cost_.PeekUs(); }
  // A flash erase of typical length, watched as the engine watches it: 1 ms sleeps, each
  // followed by a read.
  double Erase(double typicalUs, int sequencePokes) const;
  // One word programmed: its command cycles, the engine's 200 µs wait, the read that finds
  // it done and the final read.
  double ProgramWord(int commandPokes) const;

  // Adds to the part of that name (kept in the order first added).
  void Add(const std::string& part, double us);
  int64_t total() const;
  // "Write Firmware on DSX6170 takes about 16 min: back-up about 98 s, erase about 18 s,
  // ... (1.00 µs a port access, measured by a link test)."
  std::string Text(const std::string& command, Model model) const;
  // "about 1 min: erase about 3 s, write about 40 s" (no command, no cost note).
  std::string Summary() const;
  // The estimate's figure for one part (0 when it has none) and for the parts after it.
  int64_t PartUs(const std::string& part) const;
  int64_t AfterUs(const std::string& part) const;

 private:
  LinkCost cost_;
  std::vector<std::pair<std::string, double>> parts_;
};

// Says how long the command will take (the window asks with ask), then shows the time left
// while it runs. False when the user chose not to go on.
bool Announce(Session& session, const std::string& command, const Duration& duration, bool ask);

// The start of one part of a command's estimate, or of the parts first to last that share
// one progress bar: the time left follows them from here.
void BeginPart(Session& session, const Duration& duration, const std::string& part);
void BeginParts(Session& session, const Duration& duration, const std::string& first,
                const std::string& last);
// The same for a step the estimate does not name: phaseUs for it, afterUs after it.
void BeginStep(Session& session, const std::string& name, double phaseUs, double afterUs);

// The start of a read of `words` words: its time said, its status text, its progress bar.
void StartRead(Session& session, const std::string& command, const std::string& status,
               uint32_t words);

}  // namespace corvane
