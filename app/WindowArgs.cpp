#include "app/WindowArgs.h"

std::string WindowUsage() {
  return "usage: corvane [--simulate DIR | --port /dev/parportN | --direct-io] [--trace FILE]\n"
         "  --simulate DIR         work on the virtual decoders kept under DIR (one folder per model)\n"
         "  --port /dev/parportN   use this parallel port through ppdev (default: the port at 0x378)\n"
         "  --direct-io            use direct port I/O at 0x378 (root only)\n"
         "  --trace FILE           write one line per port access to FILE\n"
         "  --help                 this text\n";
}

std::variant<WindowArgs, std::string> ParseWindowArgs(const std::vector<std::string>& args) {
  WindowArgs out;
  for (size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    std::string value;
    bool hasValue = false;
    if (const size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
      hasValue = true;
    }
    std::string* slot = nullptr;
    if (name == "--simulate") slot = &out.target.simulateDir;
    else if (name == "--port") slot = &out.target.port;
    else if (name == "--trace") slot = &out.target.traceFile;
    if (slot) {
      if (!hasValue) {
        if (i + 1 >= args.size()) return name + " needs a value";
        value = args[++i];
      }
      if (value.empty()) return name + " needs a value";
      *slot = value;
      continue;
    }
    if (hasValue) return name + " takes no value";
    if (name == "--direct-io") out.target.directIo = true;
    else if (name == "--help" || name == "-h") out.help = true;
    else if (name.rfind("-", 0) == 0) return "unknown option " + name + " (see: corvane --help)";
    else return "unexpected argument " + name + " (see: corvane --help)";
  }
  if (!out.target.simulateDir.empty() && (!out.target.port.empty() || out.target.directIo)) {
    return "--simulate cannot be used with --port or --direct-io";
  }
  if (!out.target.port.empty() && out.target.directIo) {
    return "--port and --direct-io cannot be used together";
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
