#pragma once
#include <string>

#include "eeprom/corvane_ee.h"
#include "link/corvane.h"
#include "target/Profiles.h"

// Where the window's commands go: the process's link and EEPROM bus, led to a real port or
// to the virtual decoder of the model in use.
class CommandTarget {
 public:
  virtual ~CommandTarget() = default;
  // Before each command (and each passive poke or peek) for this model; false, with *error
  // for the user, when the target cannot be had.
  virtual bool Begin(corvane::Model model, std::string* error) = 0;
  // After it, on every path; false, with *error, when what it did could not be kept.
  virtual bool End(std::string* error) = 0;
  virtual corvane::Link& link() = 0;
  virtual corvane::EeBus& ee() = 0;
  virtual std::string loaderDir() const = 0;
  virtual std::string logDir() const { return {}; }
  // Where a link test keeps its measurement of this port; empty: nowhere.
  virtual std::string linkCostPath() const { return {}; }
  // True on the virtual decoder; the window says so in its title.
  virtual bool simulated() const = 0;
};
