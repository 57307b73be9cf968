#include "cli/Station.h"

#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>

#include "link/Driver.h"
#include "link/PpdevPortIo.h"
#include "link/TracePortIo.h"
#include "sim/VirtualClock.h"
#include "sim/VirtualDecoder.h"

namespace corvane::cli {

// Before the first Begin nothing is attached: every status read is idle, and each access
// moves a private clock on so that a link wait gives up at once instead of spinning.
class Station::Unbound final : public PortIo {
 public:
  uint8_t PortIn(uint16_t port) override {
    clock.Advance(1000);
    return port == kStatusPort ? 0x00 : 0xFF;
  }
  void PortOut(uint16_t, uint8_t) override { clock.Advance(1000); }
  sim::VirtualClock clock;
};

Station::Station(const TargetOptions& options) : options_(options) {}
Station::~Station() = default;

std::unique_ptr<Station> Station::Create(const TargetOptions& options, Host& host,
                                         std::string* error) {
  std::unique_ptr<Station> station(new Station(options));
  PortIo* port = nullptr;
  Clock* clock = nullptr;
  if (station->simulated()) {
    if (!options.port.empty() || options.directIo) {
      if (error) *error = "--simulate cannot be combined with --port or --direct-io";
      return nullptr;
    }
    station->unbound_ = std::make_unique<Unbound>();
    port = station->unbound_.get();
    clock = &station->unbound_->clock;
  } else {
    if (!options.busTraceFile.empty()) {
      if (error) *error = "--bus-trace needs --simulate (it records the virtual decoder's bus)";
      return nullptr;
    }
    station->realPort_ = StartPortAccess(PortAccessOptions{options.port, options.directIo}, host);
    if (!station->realPort_) {
      if (error) *error = "no access to the parallel port";
      return nullptr;
    }
    station->shared_ = dynamic_cast<PpdevPortIo*>(station->realPort_.get());
    station->realClock_ = std::make_unique<RealClock>();
    port = station->realPort_.get();
    clock = station->realClock_.get();
  }
  if (!options.traceFile.empty()) {
    std::string traceError;
    station->trace_ = TracePortIo::Create(*port, options.traceFile, &traceError);
    if (!station->trace_) {
      if (error) *error = traceError.empty() ? "cannot create " + options.traceFile : traceError;
      return nullptr;
    }
    port = station->trace_.get();
  }
  station->link_ = std::make_unique<Link>(*port, *clock);
  station->ee_ = std::make_unique<EeBus>(*station->link_);
  return station;
}

bool Station::Begin(Model model, std::string* error) {
  if (!simulated()) {
    if (!shared_) return true;
    const int e = shared_->Claim();
    if (e == 0) return true;
    if (error) {
      *error = e == port_error::kPortHeld ? PortInUseText(shared_->path(), shared_->holder())
                                          : shared_->path() + ": " + SystemSys().ErrorText(e);
    }
    return false;
  }
  auto& slot = decoders_[model];
  if (!slot) {
    std::string openError;
    slot = sim::VirtualDecoder::Open(options_.simulateDir, ProfileOf(model).caption, &openError);
    if (!slot) {
      decoders_.erase(model);
      if (error) *error = openError;
      return false;
    }
    // One VCD per run: the first decoder opened records its bus.
    if (!options_.busTraceFile.empty() && !busTraceSet_) {
      std::string traceError;
      if (!slot->SetBusTrace(options_.busTraceFile, &traceError)) {
        if (error) *error = traceError.empty() ? "cannot write " + options_.busTraceFile : traceError;
        return false;
      }
      busTraceSet_ = true;
    }
  }
  current_ = slot.get();
  current_->ResetStats();
  if (trace_) {
    trace_->SetInner(*current_);
    link_->Rebind(*trace_, current_->clock());
  } else {
    link_->Rebind(*current_, current_->clock());
  }
  return true;
}

bool Station::End(std::string* error) {
  // Every decoder this station opened, not only the current one: each writes only what
  // changed, and a switch of model without an End in between must not lose anything.
  std::string problem;
  for (auto& entry : decoders_) {
    sim::VirtualDecoder* decoder = entry.second.get();
    std::string saveError;
    if (decoder->Save(&saveError)) continue;
    if (!problem.empty()) problem += "; ";
    problem += saveError.empty() ? "the virtual decoder in " + decoder->directory() +
                                       " could not save its files"
                                 : saveError;
  }
  ReleasePort();
  if (trace_ && !trace_->Flush()) {
    if (!problem.empty()) problem += "; ";
    problem += "the trace file " + options_.traceFile + " could not be written";
  }
  if (problem.empty()) return true;
  if (error) *error = problem;
  return false;
}

void Station::ReleasePort() {
  if (shared_) shared_->Release();
}

std::string Station::loaderDir(Model model) const {
  if (const auto it = decoders_.find(model); it != decoders_.end()) return it->second->directory();
  if (simulated()) {
    return (std::filesystem::path(options_.simulateDir) / ModelFolderName(model)).string();
  }
  return ExecutableDir();
}

std::string Station::linkCostPath(Model model) const {
  if (simulated()) return loaderDir(model) + "/link.measured";
  std::string name = "direct-io-378";
  if (!options_.directIo) {
    // The device the port was opened as: one measurement per port.
    std::string device = options_.port.empty() ? "parport" : options_.port;
    if (shared_) device = shared_->path();
    name = device.substr(device.find_last_of('/') + 1);
  }
  std::string config;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0] == '/') {
    config = xdg;
  } else if (const char* home = std::getenv("HOME"); home && home[0]) {
    config = std::string(home) + "/.config";
  } else {
    return {};
  }
  return config + "/corvane/link-" + name + ".conf";
}

std::string ExecutableDir() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  return std::filesystem::path(std::string(buffer, static_cast<size_t>(n))).parent_path().string();
}

}  // namespace corvane::cli
