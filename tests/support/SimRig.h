#pragma once
#include <memory>
#include <string>
#include <vector>

#include "eeprom/corvane_ee.h"
#include "link/corvane.h"
#include "sim/DecoderImpl.h"
#include "sim/VirtualDecoder.h"
#include "support/ScriptedHost.h"
#include "support/TransactionTap.h"
#include "target/Profiles.h"
#include "target/Session.h"

namespace corvane::testing {

// A temporary folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// A session over a real virtual decoder kept in a temporary folder: for end-to-end tests.
// The loaders are the decoder's own, the firmware log goes into the temporary folder.
//   SimRig rig(Model::DSX6170);                       // defaults
//   SimRig rig(Model::BCT13, "dead_after_bytes = 40"); // decoder.conf lines of its own
//   SimRig rig(Model::TS1, "", SimRig::kTapped);      // rig.tap() records the link traffic
struct SimRig {
  static constexpr bool kTapped = true;
  explicit SimRig(Model model = Model::BCT13, const std::string& confLines = "",
                  bool withTap = false);
  ~SimRig();

  TempDir dir;
  Model model;
  std::unique_ptr<sim::VirtualDecoder> decoder;
  std::unique_ptr<TransactionTap> tapped;  // between the link and the decoder, when asked for
  Link link;
  EeBus ee;
  ScriptedHost host;
  Session session;

  sim::VirtualDecoder& vd() { return *decoder; }
  // The traffic since the rig was made (or the tap cleared); only on a tapped rig.
  TransactionTap& tap();
  // The decoder's folder (DIR/<model folder>) and a path inside the temporary folder.
  std::string decoderDir() const { return decoder->directory(); }
  std::string path(const std::string& name) const { return dir / name; }
  // The decoder's memory as it stands, at no cost in link traffic or virtual time.
  uint32_t Word(uint32_t address) { return decoder->InspectWord(address); }
  sim::DecoderImpl& impl() { return decoder->impl(); }
  // Saves the decoder's files and opens it again, as the next run of the program would.
  void Reopen();

  // Whole-file helpers for images, dumps and decoder files.
  static std::vector<uint8_t> ReadFile(const std::string& path);
  static void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
};

}  // namespace corvane::testing
