#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// The eight decoder models, in the order of the window's radio buttons.
enum class Model { DSX6071_6072, DSI185, BCT13, TS1, DSX6070, TVNbox, STB3100, DSX6170 };
inline constexpr int kModelCount = 8;

// One radio button's profile: everything the window and the commands learn from the model.
struct Profile {
  Model model;
  const char* caption;  // the radio button's text, also the model's name on the command line
  int DecoderType;
  bool checkBox1Enabled, checkBox1Visible;  // "Erase Data Area"
  bool checkBox2Enabled, checkBox2Visible;  // "Write Data Area"
  bool checkBox3Visible;                    // "BCT13 Reloaded !"
  bool readSignature, readDataArea, writeDataArea;  // menu items enabled
  int EepromWideAddress;
  uint32_t EepromLastAddress;
  uint32_t PioBase;
};

extern const std::array<Profile, kModelCount> kProfiles;

const Profile& ProfileOf(Model model);
// A caption, case-insensitive ("tvn box", "DSX6071/6072").
std::optional<Model> ModelFromName(std::string_view name);
// The caption with "/" and blanks removed: "DSX60716072", "TVNbox".
std::string ModelFolderName(Model model);

// What a command reads of the window when it starts; later clicks do not reach it.
struct ProfileSnapshot {
  Model model = Model::BCT13;
  bool eraseDataArea = false;   // CheckBox1
  bool writeDataArea = true;    // CheckBox2
  bool reloaded = false;        // CheckBox3
  const Profile& profile() const { return ProfileOf(model); }
};

}  // namespace corvane
