#include "app/WindowArgs.h"

std::string WindowUsage() {
  return "usage: corvane [--simulate DIR | --port /dev/parportN | --direct-io] [--trace FILE]\n" +
         corvane::TargetOptionsUsage() +
         "  --help                 this text\n";
}

std::variant<WindowArgs, std::string> ParseWindowArgs(const std::vector<std::string>& args) {
  WindowArgs out;
  for (corvane::ArgReader reader(args); !reader.done(); reader.Next()) {
    if (const auto taken = corvane::TakeTargetOption(reader, &out.target)) {
      if (!taken->empty()) return *taken;
      continue;
    }
    const std::string name = reader.name();
    if (name == "--help" || name == "-h") {
      if (reader.HasJoinedValue()) return "option " + name + " takes no value";
      out.help = true;
    } else if (name.rfind("-", 0) == 0) {
      return corvane::UnknownOptionText(name, "corvane");
    } else {
      return "unexpected argument " + corvane::Quoted(name) + " (see: corvane --help)";
    }
  }
  if (const std::string problem = corvane::CheckTargetOptions(out.target); !problem.empty()) {
    return problem;
  }
  return out;
}

std::vector<std::string> WithoutToolkitOptions(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool toolkit = a.size() > 1 && a[0] == '-' && a[1] != '-' && a != "-h";
    if (!toolkit) {
      out.push_back(a);
      continue;
    }
    // Its value, if it takes one, is the next word that is not an option.
    if (a.find('=') == std::string::npos && i + 1 < args.size() && !args[i + 1].empty() &&
        args[i + 1][0] != '-') {
      ++i;
    }
  }
  return out;
}
