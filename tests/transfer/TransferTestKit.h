#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

// How many transactions Connect's memory-interface set-up makes for the session's model.
inline size_t AfterConnectIndex(const Session& s) {
  return MemoryInterfaceWrites(s.profile.profile().DecoderType, s.profile.reloaded).size();
}
inline size_t AfterConnectIndex(const FakeRig& rig) { return AfterConnectIndex(rig.session); }

// The transactions a command made after Connect.
inline std::vector<LinkTraffic::Transaction> AfterConnect(const Session& s,
                                                          const LinkTraffic& traffic) {
  const size_t setup = AfterConnectIndex(s);
  const auto& t = traffic.transactions;
  if (t.size() < setup) return {};
  return {t.begin() + static_cast<long>(setup), t.end()};
}
inline std::vector<LinkTraffic::Transaction> AfterConnect(const FakeRig& rig) {
  return AfterConnect(rig.session, rig.port);
}

// The RAM word a write proves the link with (two patterns written and read back, then its
// old value put back), kept by the fake as memory; wrap after onPeek and onPoke are set.
inline constexpr size_t kRoundTripTransactions = 11;
inline void KeepScratchWord(FakeDecoderPort& port, uint32_t address) {
  auto peek = port.onPeek;
  auto poke = port.onPoke;
  auto held = std::make_shared<uint32_t>(0);
  port.onPoke = [=](uint32_t a, uint32_t v) {
    if (a == address) *held = v;
    if (poke) poke(a, v);
  };
  port.onPeek = [=](uint32_t a) -> uint32_t {
    if (a == address) return *held;
    return peek ? peek(a) : 0u;
  };
}

// A FakeRig whose log and loaders live in a private folder.
struct CommandRig {
  explicit CommandRig(Model model) : rig(model) {
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
