#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace corvane {

// The eight decoder models, in the order of the window's radio buttons.
enum class Model { DSX6071_6072, DSI185, BCT13, TS1, DSX6070, TVNbox, STB3100, DSX6170 };
inline constexpr int kModelCount = 8;

// A fixed region of the decoder's memory that one of the Ram menu's dumps saves.
struct RamRegion {
  const char* name;  // "6071": the menu item's and the shell's name for it
  uint32_t start;
  uint32_t words;
};

// The data area a model keeps apart from its firmware. Write Data Area copies the file into
// RAM at ramBase and lets the loader write it; Read Data Area peeks readBytes from readStart.
struct DataAreaLayout {
  uint32_t ramBase;
  const char* loader;  // null: nothing writes it
  uint32_t readStart;
  uint32_t readBytes;  // 0: nothing reads it
};

// One radio button's profile: everything the window and the commands learn from the model
// apart from its flash (flash/FlashModels.h has that row).
struct Profile {
  Model model;
  const char* caption;  // the radio button's text, also the model's name on the command line
  int DecoderType;
  bool checkBox1Enabled, checkBox1Visible;  // "Erase Data Area"
  bool checkBox2Enabled, checkBox2Visible;  // "Write Data Area"
  bool checkBox3Visible;                    // "BCT13 Reloaded !"
  int EepromWideAddress;
  uint32_t EepromLastAddress;
  uint32_t PioBase;
  DataAreaLayout dataArea;
  std::span<const RamRegion> ramDumps;  // the dumps named after this model
  uint32_t scratchWord;                 // the RAM word the link test writes, then restores
};

extern const std::array<Profile, kModelCount> kProfiles;

const Profile& ProfileOf(Model model);
// A caption as users write it: any case, blanks, '-' and '_' ignored ("tvn-box", "TVNbox"),
// and either model of a shared caption ("DSX6072" for "DSX6071/6072").
std::optional<Model> ModelFromName(std::string_view name);
// The caption with "/" and blanks removed: "DSX60716072", "TVNbox".
std::string ModelFolderName(Model model);
// The Ram menu's region of that name, any case ("6071", "tvnbox"); null when none.
const RamRegion* RamRegionNamed(std::string_view name);

// What a command reads of the window when it starts; later clicks do not reach it.
struct ProfileSnapshot {
  Model model = Model::BCT13;
  bool eraseDataArea = false;   // CheckBox1
  bool writeDataArea = true;    // CheckBox2
  bool reloaded = false;        // CheckBox3
  const Profile& profile() const { return ProfileOf(model); }
};

}  // namespace corvane
