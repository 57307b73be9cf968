#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/FakeRig.h"
#include "support/SimRig.h"
#include "target/Connection.h"
#include "transfer/ImageFile.h"

// Shared by the write, data-area and RAM-dump tests over the fake decoder.
namespace corvane::testing::kit {

namespace fs = std::filesystem;

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

// The log's lines, each of which must end with CR LF.
inline std::vector<std::string> LogLines(const std::string& path) {
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const std::string text(bytes.begin(), bytes.end());
  std::vector<std::string> out;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find("\r\n", at);
    if (end == std::string::npos) {
      ADD_FAILURE() << "log line without CR LF: " << text.substr(at);
      break;
    }
    out.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  return out;
}

inline bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// Puts four bytes in file order at word `index` of an image.
inline void PutFileWord(std::vector<uint8_t>& image, size_t index, uint32_t flashValue) {
  image[4 * index + 0] = static_cast<uint8_t>(flashValue >> 24);
  image[4 * index + 1] = static_cast<uint8_t>(flashValue >> 16);
  image[4 * index + 2] = static_cast<uint8_t>(flashValue >> 8);
  image[4 * index + 3] = static_cast<uint8_t>(flashValue);
}

// How many transactions Connect's memory-interface set-up makes for the rig's model.
inline size_t AfterConnectIndex(const FakeRig& rig) {
  const Profile& p = rig.session.profile.profile();
  return MemoryInterfaceWrites(p.DecoderType, rig.session.profile.reloaded).size();
}

// The transactions a command made after Connect.
inline std::vector<FakeDecoderPort::Transaction> AfterConnect(const FakeRig& rig) {
  const size_t setup = AfterConnectIndex(rig);
  const auto& t = rig.port.transactions;
  if (t.size() < setup) return {};
  return {t.begin() + static_cast<long>(setup), t.end()};
}

// A flash behind the fake decoder, just enough for command tests: erased words read
// 0xFFFFFFFF, programmed words read back (less any stuck bits), autoselect answers the
// protection bit at sector + 8, and protected blocks hold old content.
class FakeFlash {
 public:
  uint32_t base = 0x7FE00000;
  std::set<uint32_t> protectedBlocks;         // 128 KB blocks that keep `oldContent`
  uint32_t oldContent = 0x5A5A5A5A;           // bus value
  std::map<uint32_t, uint32_t> stuckHigh;     // address -> bus bits that never program
  std::function<uint32_t(uint32_t)> outside;  // peeks outside the flash; default 0
  std::map<uint32_t, uint32_t> ids;           // autoselect words (bus order) by address

  void Attach(FakeDecoderPort& port) {
    port.onPoke = [this](uint32_t a, uint32_t v) { Poke(a, v); };
    port.onPeek = [this](uint32_t a) { return Peek(a); };
  }

  // Addresses that were written with data (not command cycles), in order.
  std::vector<uint32_t> programmed;

 private:
  static bool IsCommandAddress(uint32_t a) {
    static const std::set<uint32_t> kAddresses = {0x7FE01554, 0x7FE02AA8, 0x7FF15554,
                                                  0x7FF0AAA8, 0x7FC15554, 0x7FC0AAA8};
    return kAddresses.count(a) != 0;
  }
  bool InFlash(uint32_t a) const { return a >= base && a <= 0x7FFFFFFF; }
  bool InProtected(uint32_t a) const {
    for (uint32_t b : protectedBlocks)
      if (a >= b && a - b < 0x20000) return true;
    return false;
  }
  void Poke(uint32_t a, uint32_t v) {
    if (IsCommandAddress(a)) {
      if (v == 0x00090090 || v == 0x41000090 || v == 0x00900090) autoselect_ = true;
      if (v == 0x000F00F0 || v == 0x550000F0 || v == 0x00F000F0) autoselect_ = false;
      return;
    }
    if (!InFlash(a)) return;
    if (v == 0x000C0030 || v == 0x05000030 || v == 0x00300030) return;  // sector erase
    if (InProtected(a)) return;
    auto stuck = stuckHigh.find(a);
    words_[a] = stuck == stuckHigh.end() ? v : v | stuck->second;
    programmed.push_back(a);
  }
  uint32_t Peek(uint32_t a) {
    if (autoselect_ && ids.count(a)) return ids.at(a);
    if (!InFlash(a)) return outside ? outside(a) : 0;
    if (autoselect_) return protectedBlocks.count(a - 8) ? 0x00800000 : 0;
    if (InProtected(a)) return oldContent;
    auto it = words_.find(a);
    return it == words_.end() ? 0xFFFFFFFF : it->second;
  }

  bool autoselect_ = false;
  std::unordered_map<uint32_t, uint32_t> words_;
};

// A FakeRig whose log and loaders live in a private folder.
struct Bench {
  explicit Bench(Model model) : rig(model) {
    rig.session.logDir = dir.path();
    rig.session.loaderDir = dir.path();
  }
  std::string LogPath() const { return dir / "Firmware.log"; }
  bool HasLog() const { return fs::exists(LogPath()); }
  TempDir dir;
  FakeRig rig;
  Session& s() { return rig.session; }
  ScriptedHost& host() { return rig.host; }
};

}  // namespace corvane::testing::kit
