#include "app/StationTarget.h"

std::unique_ptr<StationTarget> StationTarget::Start(const corvane::cli::TargetOptions& options,
                                                    corvane::Host& host) {
  std::string error;
  auto station = corvane::cli::Station::Create(options, host, &error);
  if (!station && error.empty()) error = "no access to the parallel port";
  // The window may stay open for hours: the port is ours only while a command runs.
  if (station) station->ReleasePort();
  return std::unique_ptr<StationTarget>(new StationTarget(options, std::move(station), error));
}

bool StationTarget::Begin(corvane::Model model, std::string* error) {
  if (!station_) {
    *error = "The command cannot run: " + why_ + ".";
    return false;
  }
  model_ = model;
  return station_->Begin(model, error);
}

bool StationTarget::End(std::string* error) { return !station_ || station_->End(error); }
