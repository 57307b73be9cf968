#pragma once
#include <map>
#include <memory>
#include <string>

#include "eeprom/corvane_ee.h"
#include "link/Clock.h"
#include "link/PortIo.h"
#include "link/corvane.h"
#include "target/Host.h"
#include "target/Profiles.h"

namespace corvane {
class PpdevPortIo;
class TracePortIo;
}
namespace corvane::sim {
class VirtualDecoder;
}

namespace corvane::cli {

// Where the commands of a front end go: the real port or the virtual decoders.
struct TargetOptions {
  std::string simulateDir;   // --simulate DIR: the virtual decoders under DIR
  std::string port;          // --port /dev/parportN; empty: the port at 0x378
  bool directIo = false;     // --direct-io: ioperm + inb/outb (root)
  std::string traceFile;     // --trace FILE: one line per port access
  std::string busTraceFile;  // --bus-trace FILE: the EEPROM lines as VCD (virtual only)
};

// The port, the clock and the virtual decoders behind a front end. One Link and one EeBus
// live here for the whole process, so the port and bus state carry over between commands.
class Station {
 public:
  // --simulate: the virtual decoders under DIR (one per model, opened on demand); else the
  // real port through the port-access start-up, which asks and reports through host.
  // Null with *error set (possibly empty when host already showed why) when there is none.
  static std::unique_ptr<Station> Create(const TargetOptions& options, Host& host,
                                         std::string* error);
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Before a command. Virtual: opens (or switches to) the model's decoder and rebinds the
  // link to it; statistics start again from zero. Real: claims a port shared through
  // ppdev, or says who has it.
  bool Begin(Model model, std::string* error);
  // After a command. Virtual: the decoders write their files back; the trace is flushed.
  // Real: the port is released for other programs. False with *error set when that failed
  // (what the command did would be lost).
  bool End(std::string* error = nullptr);
  // Lets go of a shared port until the next Begin (a window between commands).
  void ReleasePort();

  Link& link() { return *link_; }
  EeBus& ee() { return *ee_; }

  // Where the loader files are: the virtual decoder's folder, else the executable's.
  std::string loaderDir(Model model) const;
  // Where a link test keeps what it measured on this port: the virtual decoder's folder,
  // else the user's configuration folder, one file per port.
  std::string linkCostPath(Model model) const;
  bool simulated() const { return !options_.simulateDir.empty(); }
  // The decoder of the last Begin, or null (real port, or before the first Begin).
  sim::VirtualDecoder* decoder() { return current_; }
  const TargetOptions& options() const { return options_; }

 private:
  class Unbound;
  explicit Station(const TargetOptions& options);

  TargetOptions options_;
  // Until the first Begin of a virtual station the link talks to nothing (and fails fast).
  std::unique_ptr<Unbound> unbound_;
  std::unique_ptr<PortIo> realPort_;
  PpdevPortIo* shared_ = nullptr;  // realPort_ when ppdev shares it with other drivers
  // --trace: wraps the real port, or follows the current virtual decoder.
  std::unique_ptr<TracePortIo> trace_;
  std::unique_ptr<Clock> realClock_;
  std::map<Model, std::unique_ptr<sim::VirtualDecoder>> decoders_;
  sim::VirtualDecoder* current_ = nullptr;
  bool busTraceSet_ = false;
  std::unique_ptr<Link> link_;
  std::unique_ptr<EeBus> ee_;
};

// The folder of the running executable (for loaders and the log), "." when unknown.
std::string ExecutableDir();

}  // namespace corvane::cli
