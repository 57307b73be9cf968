#include <memory>

#include "link/Clock.h"
#include "link/Text.h"
#include "link/TracePortIo.h"
#include "station/Backend.h"
#include "station/Driver.h"
#include "target/Files.h"

namespace corvane {

namespace {

// The real parallel port, through ppdev or direct I/O, with --trace around it.
class PortBackend final : public Backend {
 public:
  PortBackend(const TargetOptions& options, std::unique_ptr<PortIo> port, std::string device)
      : options_(options), port_(std::move(port)), device_(std::move(device)) {}

  bool Open(std::string* error) {
    PortIo* port = port_.get();
    if (!options_.traceFile.empty()) {
      std::string traceError;
      trace_ = TracePortIo::Create(*port, options_.traceFile, &traceError);
      if (!trace_) {
        if (error) *error = traceError;
        return false;
      }
      port = trace_.get();
    }
    link_ = std::make_unique<Link>(*port, clock_);
    ee_ = std::make_unique<EeBus>(*link_);
    return true;
  }

  bool Begin(Model, std::string* error) override {
    if (!Io().Claim(error)) return false;
    if (CheckPortReads(Io(), PortName(), error)) return true;
    Io().Release();
    return false;
  }

  bool End(std::string* error) override {
    ReleasePort();
    if (trace_ && !trace_->Flush()) {
      if (error) *error = "the trace file " + options_.traceFile + " could not be written";
      return false;
    }
    return true;
  }

  void ReleasePort() override { Io().Release(); }
  Link& link() override { return *link_; }
  EeBus& ee() override { return *ee_; }
  std::string loaderDir(Model) const override { return ExecutableFolder(); }

  std::string linkCostPath(Model) const override {
    const std::string config = UserConfigFolder();
    if (config.empty()) return {};
    // One measurement per port: the device it was opened as.
    std::string name = "direct-io-378";
    if (!options_.directIo) {
      const std::string device = !device_.empty()        ? device_
                                 : options_.port.empty() ? "parport"
                                                         : options_.port;
      name = device.substr(device.find_last_of('/') + 1);
    }
    return config + "/link-" + name + ".conf";
  }

  bool simulated() const override { return false; }
  std::string ShellArgs() const override {
    if (options_.directIo) return "--direct-io";
    return options_.port.empty() ? "" : "--port " + ShellQuoted(options_.port);
  }

 private:
  PortIo& Io() { return trace_ ? static_cast<PortIo&>(*trace_) : *port_; }
  std::string PortName() const {
    if (options_.directIo) return "The parallel port at 378";
    return !device_.empty() ? device_ : options_.port.empty() ? "The parallel port" : options_.port;
  }

  TargetOptions options_;
  std::unique_ptr<PortIo> port_;
  std::string device_;
  std::unique_ptr<TracePortIo> trace_;
  RealClock clock_;
  std::unique_ptr<Link> link_;
  std::unique_ptr<EeBus> ee_;
};

}  // namespace

std::unique_ptr<Backend> StartPortBackend(const TargetOptions& options, Host& host,
                                          std::string* error) {
  std::string device;
  auto port = StartPortAccess(PortAccessOptions{options.port, options.directIo}, host, &device);
  if (!port) {
    if (error) *error = "no access to the parallel port";
    return nullptr;
  }
  auto backend = std::make_unique<PortBackend>(options, std::move(port), device);
  if (!backend->Open(error)) return nullptr;
  return backend;
}

}  // namespace corvane
