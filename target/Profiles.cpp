#include "target/Profiles.h"

#include "link/Text.h"

namespace corvane {

namespace {

// clang-format off
constexpr RamRegion kDumpsDsx6071[] = {{"6071",   0x40000000, 0x100000},
                                       {"6072",   0xC0400000, 0x80000}};
// 512 MB + 8 KB: streamed to the file, never held.
constexpr RamRegion kDumpsBct13[]   = {{"BCT13",  0x80000000, 0x8000800}};
constexpr RamRegion kDumpsDsi185[]  = {{"DSI185", 0x80000000, 0x80800}};
constexpr RamRegion kDumpsTvnbox[]  = {{"TVNbox", 0x80000000, 0x100000}};

constexpr DataAreaLayout kNoDataArea = {0, nullptr, 0, 0};
// The link test's scratch word is the first word of the RAM the tool itself fills on that
// kind of board (the RAM loaders' image copies), never a word the boot ROM may keep.
}  // namespace

constexpr std::array<Profile, kModelCount> kProfiles = {{
  // model               caption         type  cb1 en/vis    cb2 en/vis    cb3    wide last    pio
  {Model::DSX6071_6072, "DSX6071/6072",  0, true,  true,  true,  true,  false, 0, 0x7FF,  0x2000D000,
   kNoDataArea,                                               kDumpsDsx6071, 0x40000000},
  {Model::DSI185,       "DSI185",        1, false, false, false, false, false, 0, 0x7FF,  0x2000D000,
   {0x80002000, "TRAPDATA.BIN", 0xFFF80000, 0x80000},         kDumpsDsi185,  0x80002000},
  {Model::BCT13,        "BCT13",         3, false, true,  false, false, true,  0, 0x7FF,  0x2000D000,
   {0x80002000, "TRAPDATA.BIN", 0xFFF80000, 0x80000},         kDumpsBct13,   0x80002000},
  {Model::TS1,          "TS1",           4, false, false, false, false, false, 1, 0x1FFF, 0x2000F000,
   {0x80002000, "TRAPPACE.bin", 0xC0000000, 0x80000},         {},            0x80002000},
  {Model::DSX6070,      "DSX6070",       5, false, false, false, false, false, 0, 0x7FF,  0x2000D000,
   {0x40000000, "TRAP6070.bin", 0x50000000, 0x80000},         {},            0x40000000},
  {Model::TVNbox,       "TVN box",       6, false, false, false, false, false, 1, 0x1FFF, 0x2000D000,
   kNoDataArea,                                               kDumpsTvnbox,  0x80002000},
  {Model::STB3100,      "STB3100",       6, true,  false, true,  false, false, 1, 0x1FFF, 0x2000F000,
   kNoDataArea,                                               {},            0x80002000},
  // Its data area is read only: no loader writes it.
  {Model::DSX6170,      "DSX6170",       8, false, false, false, false, false, 1, 0x1FFF, 0x2000D000,
   {0, nullptr, 0x50000000, 0x200000},                        {},            0x40000000},
}};
// clang-format on

namespace {
constexpr bool RowsInModelOrder() {
  for (int i = 0; i < kModelCount; ++i) {
    if (static_cast<int>(kProfiles[i].model) != i) return false;
  }
  return true;
}
static_assert(RowsInModelOrder(), "one row per model, in the order of the Model enum");
}  // namespace

const Profile& ProfileOf(Model model) { return kProfiles[static_cast<int>(model)]; }

namespace {
// A name as users write it: lower case, without blanks, '-' or '_'.
std::string NameKey(std::string_view name) {
  std::string key;
  for (char c : name) {
    if (c == ' ' || c == '-' || c == '_') continue;
    key += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  }
  return key;
}
}  // namespace

std::optional<Model> ModelFromName(std::string_view name) {
  const std::string wanted = NameKey(name);
  for (const Profile& p : kProfiles) {
    const std::string caption = NameKey(p.caption);
    if (wanted == caption) return p.model;
    // "DSX6071/6072" is two decoders: each name alone means it, "6072" taking the letters
    // of the first.
    const size_t slash = caption.find('/');
    if (slash == std::string::npos) continue;
    const std::string first = caption.substr(0, slash);
    const std::string letters = first.substr(0, first.find_first_of("0123456789"));
    if (wanted == first || wanted == letters + caption.substr(slash + 1)) return p.model;
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

const RamRegion* RamRegionNamed(std::string_view name) {
  for (const Profile& p : kProfiles) {
    for (const RamRegion& r : p.ramDumps) {
      if (EqualsNoCase(r.name, name)) return &r;
    }
  }
  return nullptr;
}

}  // namespace corvane
