#pragma once
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "eeprom/corvane_ee.h"
#include "link/PortIo.h"
#include "link/corvane.h"
#include "station/TargetOptions.h"
#include "target/Host.h"
#include "target/Profiles.h"

namespace corvane::sim {
class VirtualDecoder;
}

namespace corvane {

// What the virtual decoder counted since the last Begin: the shell's --stats.
struct TrafficStats {
  uint64_t portAccesses = 0;
  uint64_t pokes = 0;
  uint64_t peeks = 0;
  int64_t virtualTimeUs = 0;  // what the same traffic takes on real hardware
};

// Where a front end's commands go: the real port, or the virtual decoders. One Link and one
// EeBus live behind it for the whole process, so the port and bus state carry over from
// one command to the next.
class Backend {
 public:
  // --simulate: the virtual decoders under DIR (one per model, opened on demand); else the
  // real port through the port-access start-up, which asks and reports through host.
  // Null with *error set (possibly empty when host already showed why) when there is none.
  static std::unique_ptr<Backend> Start(const TargetOptions& options, Host& host,
                                        std::string* error);
  // One that refuses every command, saying why: the window's when the start-up got no port.
  static std::unique_ptr<Backend> Unavailable(std::string why, bool simulated);

  virtual ~Backend() = default;

  // Before a command for this model. Virtual: opens (or switches to) the model's decoder
  // and leads the link to it; its statistics start again from zero. Real: claims the port
  // if it is shared, or says who has it.
  virtual bool Begin(Model model, std::string* error) = 0;
  // After it, on every path. Virtual: the decoders write their files back. Real: the port
  // is released for other programs. The trace is flushed. False with *error set when that
  // failed (what the command did would be lost).
  virtual bool End(std::string* error) = 0;
  // Lets go of a shared port until the next Begin (a window between commands).
  virtual void ReleasePort() {}

  virtual Link& link() = 0;
  virtual EeBus& ee() = 0;
  // Where the loader files are: the virtual decoder's folder, else the executable's.
  virtual std::string loaderDir(Model model) const = 0;
  // Where a link test keeps what it measured on this port: the virtual decoder's folder,
  // else the user's configuration folder, one file per port; empty: nowhere.
  virtual std::string linkCostPath(Model model) const = 0;
  // The window says so in its title.
  virtual bool simulated() const = 0;
  // The shell's options that lead to this port ("--simulate vd", "--port /dev/parport1"),
  // for the commands messages tell the user to run.
  virtual std::string ShellArgs() const { return {}; }
  // The decoder of the last Begin, or null (real port, or before the first Begin).
  virtual sim::VirtualDecoder* decoder() { return nullptr; }
  // Its counts; nothing on a real port.
  virtual std::optional<TrafficStats> stats() { return std::nullopt; }
};

// A port that cannot read cannot run any command: the decoder's every answer would be the
// PC's own latch. False, with the message for the user (naming port) in *error.
bool CheckPortReads(PortIo& io, const std::string& port, std::string* error);

// The two kinds, for those that know which they want.
std::unique_ptr<Backend> StartPortBackend(const TargetOptions& options, Host& host,
                                          std::string* error);
std::unique_ptr<Backend> StartVirtualBackend(const TargetOptions& options, std::string* error);

}  // namespace corvane
