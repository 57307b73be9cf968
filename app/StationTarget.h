#pragma once
#include <memory>
#include <string>

#include "app/CommandTarget.h"
#include "cli/Station.h"

// The window's commands on the same Station the command line uses. Without a station (no
// port access was obtained) every command is refused with the reason.
class StationTarget final : public CommandTarget {
 public:
  // Runs the port-access start-up for a real port, asking and reporting through host.
  static std::unique_ptr<StationTarget> Start(const corvane::cli::TargetOptions& options,
                                              corvane::Host& host);

  bool Begin(corvane::Model model, std::string* error) override;
  bool End(std::string* error) override;
  corvane::Link& link() override { return station_->link(); }
  corvane::EeBus& ee() override { return station_->ee(); }
  std::string loaderDir() const override { return station_->loaderDir(model_); }
  std::string linkCostPath() const override { return station_->linkCostPath(model_); }
  bool simulated() const override { return !options_.simulateDir.empty(); }
  corvane::cli::Station* station() { return station_.get(); }

 private:
  StationTarget(const corvane::cli::TargetOptions& options,
                std::unique_ptr<corvane::cli::Station> station, std::string why)
      : options_(options), station_(std::move(station)), why_(std::move(why)) {}

  corvane::cli::TargetOptions options_;
  std::unique_ptr<corvane::cli::Station> station_;
  std::string why_;  // why there is no station
  corvane::Model model_ = corvane::Model::BCT13;
};
