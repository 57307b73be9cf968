#include "station/TargetOptions.h"

namespace corvane {

std::string ArgReader::name() const {
  const std::string& w = word();
  if (w.rfind("--", 0) == 0) {
    if (const size_t eq = w.find('='); eq != std::string::npos) return w.substr(0, eq);
  }
  return w;
}

bool ArgReader::HasJoinedValue() const { return name().size() != word().size(); }

std::optional<std::string> ArgReader::Value(std::string* error) {
  const std::string option = name();
  std::string value;
  if (HasJoinedValue()) {
    value = word().substr(option.size() + 1);
  } else if (at_ + 1 < args_.size()) {
    value = args_[++at_];
  }
  if (value.empty()) {
    *error = "option " + option + " needs a value";
    return std::nullopt;
  }
  return value;
}

std::optional<std::string> TakeTargetOption(ArgReader& reader, TargetOptions* o) {
  const std::string name = reader.name();
  std::string* slot = nullptr;
  if (name == "--simulate") slot = &o->simulateDir;
  else if (name == "--port") slot = &o->port;
  else if (name == "--trace") slot = &o->traceFile;
  else if (name == "--bus-trace") slot = &o->busTraceFile;
  if (slot) {
    std::string error;
    const auto value = reader.Value(&error);
    if (!value) return error;
    if (!slot->empty()) return "option " + name + " given twice";
    *slot = *value;
    return "";
  }
  if (name == "--direct-io") {
    if (reader.HasJoinedValue()) return "option " + name + " takes no value";
    if (o->directIo) return "option " + name + " given twice";
    o->directIo = true;
    return "";
  }
  return std::nullopt;
}

std::string CheckTargetOptions(const TargetOptions& o) {
  if (o.simulated() && (!o.port.empty() || o.directIo)) {
    return "--simulate cannot be used with --port or --direct-io";
  }
  if (!o.port.empty() && o.directIo) return "--port and --direct-io cannot be used together";
  if (!o.busTraceFile.empty() && !o.simulated()) {
    return "--bus-trace needs --simulate (it records the virtual decoder's bus)";
  }
  return "";
}

std::string TargetOptionsUsage() {
  return "  --simulate DIR         use the virtual decoders kept under DIR (one folder per model)\n"
         "  --port /dev/parportN   use this parallel port through ppdev (default: the port at 0x378)\n"
         "  --direct-io            use direct port I/O at 0x378 (root only)\n"
         "  --trace FILE           write one line per port access to FILE\n"
         "  --bus-trace FILE       virtual decoder: record the EEPROM lines to FILE (VCD)\n";
}

std::string Quoted(std::string_view s) {
  // Control characters are shown escaped: the reason stays one line on the terminal.
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out = "'";
  for (const char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      out += "\\x";
      out += kDigits[u >> 4];
      out += kDigits[u & 0xF];
    } else {
      out += c;
    }
  }
  return out + "'";
}

std::string UnknownOptionText(std::string_view option, const char* program) {
  return "unknown option " + Quoted(option) + " (see: " + program + " --help)";
}

}  // namespace corvane
