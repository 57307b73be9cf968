#include <filesystem>
#include <map>
#include <memory>

#include "link/Text.h"
#include "link/TracePortIo.h"
#include "sim/FolderLock.h"
#include "sim/VirtualClock.h"
#include "sim/VirtualDecoder.h"
#include "station/Backend.h"

namespace corvane {

namespace {

// Before the first Begin nothing is attached: every status read is idle, and each access
// moves a private clock on so that a link wait gives up at once instead of spinning.
class Unbound final : public PortIo {
 public:
  uint8_t PortIn(uint16_t port) override {
    clock.Advance(1000);
    return port == kStatusPort ? 0x00 : 0xFF;
  }
  void PortOut(uint16_t, uint8_t) override { clock.Advance(1000); }
  sim::VirtualClock clock;
};

// One virtual decoder per model under --simulate DIR, opened when a command first wants it;
// the link follows the model of each command.
class VirtualBackend final : public Backend {
 public:
  explicit VirtualBackend(const TargetOptions& options) : options_(options) {}

  bool Open(std::string* error) {
    PortIo* port = &unbound_;
    if (!options_.traceFile.empty()) {
      std::string traceError;
      trace_ = TracePortIo::Create(unbound_, options_.traceFile, &traceError);
      if (!trace_) {
        if (error) *error = traceError;
        return false;
      }
      port = trace_.get();
    }
    link_ = std::make_unique<Link>(*port, unbound_.clock);
    ee_ = std::make_unique<EeBus>(*link_);
    return true;
  }

  bool Begin(Model model, std::string* error) override {
    // The folder is the port here: a second run on it waits half a second for this one, as
    // for a claimed port, and is then told who has it instead of losing its changes.
    const std::string folder = loaderDir(model);
    lock_.reset();
    std::string holder, lockError;
    lock_ = sim::FolderLock::Take(folder, 500, &holder, &lockError);
    if (!lock_) {
      if (error) {
        *error = holder.empty() ? lockError
                                : folder + " is in use by " + holder +
                                      ", another program on the virtual decoder (a second "
                                      "Corvane?): wait until it has finished, then try again";
      }
      return false;
    }
    if (Attach(model, error)) return true;
    lock_.reset();
    return false;
  }

  bool Attach(Model model, std::string* error) {
    auto& slot = decoders_[model];
    // Another run changed the folder since this one last saw it: its files are the decoder.
    if (slot && slot->ChangedOnDisk()) {
      const bool traced = slot.get() == traced_;
      if (slot.get() == current_) current_ = nullptr;
      slot.reset();
      if (traced) traced_ = nullptr, busTraceSet_ = false;
    }
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
        traced_ = slot.get();
      }
    }
    if (!CheckPortReads(*slot, "The virtual port of " + slot->directory(), error)) return false;
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

  bool End(std::string* error) override {
    // Every decoder opened, not only the current one: each writes only what changed, and a
    // switch of model without an End in between must not lose anything.
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
    if (trace_ && !trace_->Flush()) {
      if (!problem.empty()) problem += "; ";
      problem += "the trace file " + options_.traceFile + " could not be written";
    }
    lock_.reset();
    if (problem.empty()) return true;
    if (error) *error = problem;
    return false;
  }

  Link& link() override { return *link_; }
  EeBus& ee() override { return *ee_; }

  std::string loaderDir(Model model) const override {
    if (const auto it = decoders_.find(model); it != decoders_.end()) {
      return it->second->directory();
    }
    return (std::filesystem::path(options_.simulateDir) / ModelFolderName(model)).string();
  }
  std::string linkCostPath(Model model) const override { return loaderDir(model) + "/link.measured"; }
  bool simulated() const override { return true; }
  std::string ShellArgs() const override { return "--simulate " + ShellQuoted(options_.simulateDir); }
  sim::VirtualDecoder* decoder() override { return current_; }
  std::optional<TrafficStats> stats() override {
    if (!current_) return std::nullopt;
    const sim::Stats& s = current_->stats();
    return TrafficStats{s.portAccesses, s.pokes, s.peeks, s.virtualTimeUs};
  }

 private:
  TargetOptions options_;
  Unbound unbound_;
  // --trace: follows the current virtual decoder.
  std::unique_ptr<TracePortIo> trace_;
  std::map<Model, std::unique_ptr<sim::VirtualDecoder>> decoders_;
  sim::VirtualDecoder* current_ = nullptr;
  bool busTraceSet_ = false;
  sim::VirtualDecoder* traced_ = nullptr;  // the decoder that records --bus-trace
  // The current model's folder, held from Begin to End.
  std::unique_ptr<sim::FolderLock> lock_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<EeBus> ee_;
};

}  // namespace

std::unique_ptr<Backend> StartVirtualBackend(const TargetOptions& options, std::string* error) {
  auto backend = std::make_unique<VirtualBackend>(options);
  if (!backend->Open(error)) return nullptr;
  return backend;
}

}  // namespace corvane
