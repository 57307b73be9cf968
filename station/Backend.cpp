#include "station/Backend.h"

#include "link/Clock.h"

namespace corvane {

namespace {

// No port: every command is refused with the reason, and the link talks to nothing.
class UnavailableBackend final : public Backend, private PortIo {
 public:
  UnavailableBackend(std::string why, bool simulated) : why_(std::move(why)), simulated_(simulated) {}
  bool Begin(Model, std::string* error) override {
    if (error) *error = "The command cannot run: " + why_ + ".";
    return false;
  }
  bool End(std::string*) override { return true; }
  Link& link() override { return link_; }
  EeBus& ee() override { return ee_; }
  std::string loaderDir(Model) const override { return {}; }
  std::string linkCostPath(Model) const override { return {}; }
  bool simulated() const override { return simulated_; }

 private:
  uint8_t PortIn(uint16_t) override { return 0xFF; }
  void PortOut(uint16_t, uint8_t) override {}

  std::string why_;
  bool simulated_;
  RealClock clock_;
  Link link_{*this, clock_};
  EeBus ee_{link_};
};

}  // namespace

bool CheckPortReads(PortIo& io, const std::string& port, std::string* error) {
  std::string why;
  if (io.ReadsData(&why).value_or(true)) return true;
  if (error) {
    *error = port + " cannot read what the decoder sends: " + why +
             ". Set the port to bidirectional (PS/2, byte), EPP or ECP mode in the BIOS setup, "
             "or use a card that has such a mode; SPP and Normal mode can only send. Nothing "
             "was sent to the decoder.";
  }
  return false;
}

std::unique_ptr<Backend> Backend::Start(const TargetOptions& options, Host& host,
                                        std::string* error) {
  if (const std::string problem = CheckTargetOptions(options); !problem.empty()) {
    if (error) *error = problem;
    return nullptr;
  }
  return options.simulated() ? StartVirtualBackend(options, error)
                             : StartPortBackend(options, host, error);
}

std::unique_ptr<Backend> Backend::Unavailable(std::string why, bool simulated) {
  return std::make_unique<UnavailableBackend>(std::move(why), simulated);
}

}  // namespace corvane
