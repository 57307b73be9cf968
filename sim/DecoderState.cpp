// decoder.state: a real decoder stays switched on between runs of the program, and keeps its
// memory-interface set-up, its PIO pins, its flash chips' command state and a frame it has
// begun. The file holds them as hexadecimal words, one line per part.
#include <cstdio>
#include <functional>
#include <sstream>

#include "sim/DecoderImpl.h"

namespace corvane::sim {

namespace {

constexpr const char* kStateName = "decoder.state";

std::string Words(const std::vector<uint32_t>& words) {
  std::string out;
  for (uint32_t w : words) {
    if (!out.empty()) out += ' ';
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%X", static_cast<unsigned>(w));
    out += buffer;
  }
  return out.empty() ? "-" : out;
}

bool ParseWords(const std::string& text, std::vector<uint32_t>* out) {
  out->clear();
  if (text == "-") return true;
  std::istringstream in(text);
  std::string token;
  while (in >> token) {
    const auto v = Conf::ParseInt(token);
    if (!v || *v < 0 || *v > 0xFFFFFFFFll) return false;
    out->push_back(static_cast<uint32_t>(*v));
  }
  return true;
}

}  // namespace

bool DecoderImpl::LoadState(std::string* error) {
  const std::string path = files_.directory + "/" + kStateName;
  std::vector<uint8_t> raw;
  const FileRead read = ReadDecoderFile(path, {kTextFileLimit, false, "a decoder.state"}, &raw,
                                        &files_.stamps[kStateName], error);
  if (read == FileRead::kFailed) return false;
  if (read == FileRead::kMissing) return true;  // switched on afresh
  const std::string text(raw.begin(), raw.end());
  Conf state;
  std::string why;
  std::vector<uint32_t> words;
  bool ok = state.Parse(text, &why);
  struct Part {
    const char* key;
    std::function<bool(std::span<const uint32_t>)> restore;
  };
  const Part parts[] = {
      {"decoder", [&](auto w) { return decoder_->Restore(w); }},
      {"flash", [&](auto w) { return board_->Restore(w); }},
      {"link", [&](auto w) { return link_->Restore(w); }},
  };
  for (const Part& p : parts) {
    if (!ok) break;
    const auto value = state.Get(p.key);
    ok = value && ParseWords(*value, &words) && p.restore(words);
    if (!ok) why = value ? std::string(p.key) + " does not fit this decoder" : "no " + std::string(p.key) + " line";
  }
  if (!ok) {
    *error = path + ": " + (why.empty() ? "cannot be read" : why) +
             "; delete it to switch the virtual decoder off and on";
    return false;
  }
  savedState_ = text;
  return true;
}

bool DecoderImpl::SaveState(std::string* error) {
  std::string text =
      "# What the virtual decoder keeps while it stays switched on between runs: its\n"
      "# memory-interface set-up and PIO pins, its flash chips' command state and a frame\n"
      "# it has begun. Delete this file to switch it off and on.\n";
  text += "decoder = " + Words(decoder_->State()) + "\n";
  text += "flash = " + Words(board_->State()) + "\n";
  text += "link = " + Words(link_->State()) + "\n";
  if (text == savedState_) return true;
  const std::string path = files_.directory + "/" + kStateName;
  const std::vector<uint8_t> bytes(text.begin(), text.end());
  if (!WriteFileAtomically(path, bytes, error, false, &files_.stamps[kStateName])) return false;
  savedState_ = text;
  return true;
}

}  // namespace corvane::sim
