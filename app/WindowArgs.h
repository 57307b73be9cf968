#pragma once
#include <string>
#include <variant>
#include <vector>

#include "station/TargetOptions.h"

// The window's command line: the target options of corvane-cli, nothing else.
struct WindowArgs {
  corvane::TargetOptions target;
  bool help = false;
};

// The options, or the one-line reason of a usage error. args without the program name.
std::variant<WindowArgs, std::string> ParseWindowArgs(const std::vector<std::string>& args);

// The toolkit's own single-dash options ("-platform xcb", "-reverse") left out, so the line
// can be checked before the toolkit needs a display.
std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args);

// --help: one line per option.
std::string WindowUsage();
