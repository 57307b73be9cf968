#include "target/Profiles.h"

#include <cctype>

namespace corvane {

// clang-format off
const std::array<Profile, kModelCount> kProfiles = {{
  // model                 caption         type  cb1 en/vis    cb2 en/vis    cb3   sig    rdDA   wrDA   wide last    pio
  {Model::DSX6071_6072, "DSX6071/6072",  0, true,  true,  true,  true,  false, true,  false, false, 0, 0x7FF,  0x2000D000},
  {Model::DSI185,       "DSI185",        1, false, false, false, false, false, true,  true,  true,  0, 0x7FF,  0x2000D000},
  {Model::BCT13,        "BCT13",         3, false, true,  false, false, true,  false, true,  true,  0, 0x7FF,  0x2000D000},
  {Model::TS1,          "TS1",           4, false, false, false, false, false, true,  true,  true,  1, 0x1FFF, 0x2000F000},
  {Model::DSX6070,      "DSX6070",       5, false, false, false, false, false, true,  true,  true,  0, 0x7FF,  0x2000D000},
  {Model::TVNbox,       "TVN box",       6, false, false, false, false, false, true,  true,  true,  1, 0x1FFF, 0x2000D000},
  {Model::STB3100,      "STB3100",       6, true,  false, true,  false, false, true,  false, false, 1, 0x1FFF, 0x2000F000},
  {Model::DSX6170,      "DSX6170",       8, false, false, false, false, false, true,  true,  true,  1, 0x1FFF, 0x2000D000},
}};
// clang-format on

const Profile& ProfileOf(Model model) { return kProfiles[static_cast<int>(model)]; }

namespace {
std::string Folded(std::string_view s) {
  std::string out;
  for (char c : s) out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
}  // namespace

std::optional<Model> ModelFromName(std::string_view name) {
  const std::string wanted = Folded(name);
  for (const Profile& p : kProfiles) {
    if (Folded(p.caption) == wanted) return p.model;
  }
  return std::nullopt;
}

std::string ModelFolderName(Model model) {
  std::string out;
  for (const char* c = ProfileOf(model).caption; *c; ++c) {
    if (*c != '/' && *c != ' ') out += *c;
  }
  return out;
}

}  // namespace corvane
