#include "target/Connection.h"

#include <array>

namespace corvane {

namespace {

struct BlockRow {
  uint32_t address;
  // Values for DecoderType 0, 5 and 8; kNone: no write for that type.
  std::array<int64_t, 3> values;
};
constexpr int64_t kNone = -1;

// clang-format off
constexpr BlockRow kRegisterBlock[] = {
  {0x2000, {0x168,  0x148,  0x168}},
  {0x2004, {0xFFE0, 0xFFF0, 0xFFE0}},
  {0x2008, {0x7F26, 0x7F06, 0x7F06}},
  {0x200C, {0xD32,  0xB02,  0xB02}},
  {0x2010, {0x16D1, 0x16D1, 0x16C9}},
  {0x2014, {0x3000, 0x2000, 0x3000}},
  {0x2018, {0x3005, 0x2005, 0x3005}},
  {0x201C, {0,      0,      0}},
  {0x2020, {0xB289, 0x619,  0x619}},
  {0x2024, {0x8000, 0x2A00, 0x2A00}},
  {0x2028, {0x8000, 0x2A00, 0x2A00}},
  {0x202C, {0,      1,      1}},
  {0x2030, {0x16C9, 0x1289, 0x16C9}},
  {0x2034, {0x3000, 0x2000, 0x3000}},
  {0x2038, {0x3005, 0x2000, 0x3005}},
  {0x203C, {0,      0,      0}},
  {0x2060, {1,      1,      1}},
  {0x2070, {0x32,   0x32,   0x32}},
  {0x2040, {kNone,  kNone,  1}},
  {0x2044, {kNone,  kNone,  1}},
  {0x2048, {kNone,  kNone,  1}},
  {0x204C, {kNone,  kNone,  1}},
};

using Group = std::array<uint32_t, 4>;
struct WindowList {
  int decoderType;
  std::array<Group, 5> groups;   // selectors 0x40, 0x44, 0x48, 0x4C, 0x50
  bool closesWithBase;           // DSI185 writes 0x7FFFFFA8 to the window before closing
};

constexpr WindowList kWindowLists[] = {
  {1, {{{0xC00FF802, 0x41852825, 0xCF192A33, 0x42404040},
        {0xC0000000, 0x62080726, 0xCC483B22, 0x60606160},
        {0,          0x401009A7, 0xDC000822, 0x31000040},
        {0xC0000000, 0x62060625, 0xCCB43B22, 0x60306160},
        {0,          0,          0,          0xAAAA959A}}}, true},
  {3, {{{0xC01FF802, 0x3185182A, 0xCF192A33, 0x31303000},
        {0xC0000000, 0x6004062A, 0x44003B22, 0x61006161},
        {0,          0x503F082B, 0xCC000822, 0x41000050},
        {0xC0000000, 0x6006062A, 0x44003B22, 0x61006161},
        {0,          0,          0,          0x3F555555}}}, false},
  {4, {{{0xC01FF802, 0x31852825, 0xCF192A33, 0x31303030},
        {0xC0000000, 0x61040626, 0xCC003B26, 0x61006151},
        {0,          0x40180927, 0x8C000822, 0x31000040},
        {0xC0000000, 0x51090625, 0xCC003F26, 0x51005050},
        {0,          0,          0,          0x15555555}}}, false},
  {6, {{{0xC03FF002, 0x31853829, 0xCF192A33, 0x31303030},
        {0xC0000000, 0x7204062B, 0xCCD83B66, 0x61616151},
        {0,          0x402609AB, 0x8C000822, 0x31000040},
        {0xC0000000, 0x52080629, 0x44003B26, 0x51005040},
        {0,          0,          0,          0xAAAAAAAA}}}, false},
};
// The BCT13 "Reloaded" board takes other first words in its first group.
constexpr uint32_t kBct13ReloadedFirst[2] = {0xC03FF002, 0x31851829};
// clang-format on

constexpr uint32_t kWindowBase = 0x20002000;
constexpr uint32_t kWindowSelect = 0x20002010;

}  // namespace

std::vector<RegisterWrite> MemoryInterfaceWrites(int decoderType, bool reloaded) {
  std::vector<RegisterWrite> out;
  const int column = decoderType == 0 ? 0 : decoderType == 5 ? 1 : decoderType == 8 ? 2 : -1;
  if (column >= 0) {
    for (const BlockRow& row : kRegisterBlock) {
      if (row.values[column] != kNone) {
        out.push_back({row.address, static_cast<uint32_t>(row.values[column])});
      }
    }
    return out;
  }
  for (const WindowList& list : kWindowLists) {
    if (list.decoderType != decoderType) continue;
    for (int g = 0; g < 5; ++g) {
      Group words = list.groups[g];
      if (decoderType == 3 && reloaded && g == 0) {
        words[0] = kBct13ReloadedFirst[0];
        words[1] = kBct13ReloadedFirst[1];
      }
      for (int w = 0; w < 4; ++w) out.push_back({kWindowBase + 4u * w, words[w]});
      out.push_back({kWindowSelect, 0x40u + 4u * g});
    }
    if (list.closesWithBase) out.push_back({kWindowBase, 0x7FFFFFA8});
    out.push_back({kWindowSelect, 0x20});
  }
  return out;
}

void MemoryInterfaceSetup(Link& link, int decoderType, bool reloaded) {
  for (const RegisterWrite& w : MemoryInterfaceWrites(decoderType, reloaded)) {
    link.Poke(w.address, w.value);
  }
}

bool Connect(Session& session) {
  const Profile& profile = session.profile.profile();
  Link& link = session.link;
  link.LinkOpen();
  try {
    link.ResetTarget();
    MemoryInterfaceSetup(link, profile.DecoderType, session.profile.reloaded);
  } catch (const LinkError& e) {
    link.LinkClose();
    session.host.MessageBox(MessageKind::Error, LinkErrorText(e), Buttons::Ok);
    return false;
  }
  return true;
}

void Disconnect(Session& session) { session.link.LinkClose(); }

}  // namespace corvane
