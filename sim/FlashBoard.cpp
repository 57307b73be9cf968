#include "sim/FlashBoard.h"

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "sim/FlashChip.h"

namespace corvane::sim {

namespace {

// How one half of the bus reaches its chip's data lines.
enum class Wires : uint8_t {
  Straight,
  // DQ0-7 and DQ8-15 each in reverse order: the board's traces cross within each byte.
  ByteReversed,
  // DQi on bit 2i, DQ(8+i) on bit 2i+1.
  Interleaved,
  // DQ0/DQ15, DQ9/DQ10 and DQ13/DQ14 trade places. Why: these boards' second unlock cycle
  // is 0x8054, which delivers 0x55 to DQ0-DQ7 only when bus bit 15 carries DQ0 (bus bit 0
  // then carries DQ15, outside the command byte; every other command byte has bits 0 and
  // 15 clear and passes unchanged). AMD's maker code 0x0001 then reads 0x8000 in each half,
  // image word 0x00800080. The device words read for the parts these boards carry (1 MB:
  // two AM29F400BB, 0x22AB; 4 MB: two AM29LV160DB, 0x2249) come back with 0x22 as 0xC4 in
  // the upper byte: DQ9 on bit 10 and DQ13 on bit 14, so DQ10 and DQ14 take bits 9 and 13.
  Swapped6070,
};

const Wiring& WiringOf(Wires w) {
  static const Wiring straight({0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15});
  static const Wiring reversed({7, 6, 5, 4, 3, 2, 1, 0, 15, 14, 13, 12, 11, 10, 9, 8});
  static const Wiring interleaved({0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15});
  static const Wiring swapped({15, 1, 2, 3, 4, 5, 6, 7, 8, 10, 9, 11, 12, 14, 13, 0});
  switch (w) {
    case Wires::ByteReversed:
      return reversed;
    case Wires::Interleaved:
      return interleaved;
    case Wires::Swapped6070:
      return swapped;
    case Wires::Straight:
      break;
  }
  return straight;
}

struct BoardRow {
  FlashBoardGeometry layout;
  bool loaderOnly;  // no command interface: plain memory its loader fills
  Wires low, high;
  const char* defaultDevice;
};

// The virtual decoder's own copy of the boards; default parts by the sizes the boards
// decode. The wirings come from what the tool sends and expects back:
// - DSX6071/6072: 0xAA reaches the high chip as 0x0055, AMD's 0x0001 comes back as 0x0080.
// - DSI185: 0xAA as 0x4444 pins DQ0-7 to the even bits; DQ8-15 take the odd ones, which
//   nothing the tool sends or compares pins down.
// - TS1, TVN box, STB3100: straight; the maker word they expect for "AMD" is 0x04 on each
//   chip (Fujitsu, whose parts share AMD's device codes), for "SGS-THOMSON" 0xAD (Hynix).
// Some signature-table entries no board can give with any wiring that also fits the rest:
// DSI185's SGS-THOMSON words and TS1's M29W800AB word are DSX6071/6072's; "AM29F800BT" on
// DSI185 is the code of the AM29F400BT; DSX6070/DSX6170's AM29F800BT/BB words are TS1's,
// and their SGS-THOMSON maker word 0x01234567 has unequal halves.
const BoardRow kBoards[] = {
    {{"DSX6071/6072", 0x7FE00000, 0x200000},
     false,
     Wires::Straight,
     Wires::ByteReversed,
     "AM29LV800BB"},
    {{"DSI185", 0x7FF00000, 0x100000, 0x7FE00000, 0x100000},
     false,
     Wires::Straight,
     Wires::Interleaved,
     "AM29F400BB"},
    {{"BCT13", 0x7FF00000, 0x100000}, true, Wires::Straight, Wires::Straight, nullptr},
    // These boards answer with Fujitsu's maker code (0x04) where the others answer AMD's.
    {{"TS1", 0x7FE00000, 0x200000}, false, Wires::Straight, Wires::Straight, "MBM29F800BA"},
    {{"DSX6070", 0x7FF00000, 0x100000},
     false,
     Wires::Swapped6070,
     Wires::Swapped6070,
     "AM29F400BB"},
    {{"TVN box", 0x7FE00000, 0x200000}, false, Wires::Straight, Wires::Straight, "MBM29F800BA"},
    {{"STB3100", 0x7FE00000, 0x200000}, false, Wires::Straight, Wires::Straight, "MBM29F800BA"},
    {{"DSX6170", 0x7FC00000, 0x400000},
     false,
     Wires::Swapped6070,
     Wires::Swapped6070,
     "AM29LV160DB"},
};

bool SameCaption(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

const BoardRow* RowFor(const std::string& caption) {
  for (const BoardRow& r : kBoards) {
    if (SameCaption(r.layout.caption, caption)) return &r;
  }
  return nullptr;
}

std::string Hex(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(v));
  return buf;
}

std::string Bytes(uint32_t n) {
  return n % 0x100000 == 0 ? std::to_string(n / 0x100000) + " MB"
                           : std::to_string(n / 1024) + " KB";
}

inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

std::vector<std::string> Tokens(const std::string& text) {
  std::vector<std::string> out;
  std::string item;
  for (char c : text) {
    if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      if (!item.empty()) out.push_back(item);
      item.clear();
    } else {
      item += c;
    }
  }
  if (!item.empty()) out.push_back(item);
  return out;
}

std::optional<uint32_t> Number(const std::string& text) {
  const auto v = Conf::ParseInt(text);
  if (!v || *v < 0 || *v > 0xFFFFFFFFll) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

// A 16-bit code: one to four hexadecimal digits, with or without 0x.
std::optional<uint16_t> HexCode(const std::string& text) {
  const bool prefixed = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  const std::string digits = text.substr(prefixed ? 2 : 0);
  if (digits.empty() || digits.size() > 4) return std::nullopt;
  for (char c : digits) {
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
  }
  return static_cast<uint16_t>(std::stoul(digits, nullptr, 16));
}

// A whole number of seconds or tenths: the data sheets' erase times.
std::string Seconds(int64_t us) {
  std::string s = std::to_string(us / 1'000'000);
  if (const int64_t tenths = us / 100'000 % 10) s += "." + std::to_string(tenths);
  return s + " s";
}

std::string ChipsFor(const BoardRow& row) {
  std::string list;
  for (const ChipType& t : ChipCatalogue()) {
    if (t.words < row.layout.size / 4) continue;
    if (!list.empty()) list += ", ";
    list += t.name;
  }
  return list;
}

// Two 16-bit chips on a 32-bit bus: the low chip on bits 0-15, the high chip on 16-31,
// chip word n at base + 4n.
class ChipBoard final : public BusDevice {
 public:
  ChipBoard(const FlashBoardGeometry& layout, std::vector<uint8_t>& image, const ChipType& type,
            ChipId id, const Wiring& low, const Wiring& high, VirtualClock& clock)
      : image_(image),
        base_(layout.base),
        size_(layout.size),
        bound_(image.data()),
        low_(type, id, low, image.data(), 4, layout.size / 4, clock),
        high_(type, id, high, image.data() + 2, 4, layout.size / 4, clock) {}

  uint32_t Read(uint32_t address) override {
    if (!Bound()) return 0xFFFFFFFF;
    const uint32_t off = (address - base_) & (size_ - 4);
    if (array_) return Load32(bound_ + off);
    const uint32_t w = off >> 2;
    const uint32_t v = low_.Read(w) | static_cast<uint32_t>(high_.Read(w)) << 16;
    array_ = low_.ReadsArray() && high_.ReadsArray();
    return v;
  }

  void Write(uint32_t address, uint32_t value) override {
    if (!Bound()) return;
    const uint32_t w = ((address - base_) & (size_ - 4)) >> 2;
    low_.Write(w, static_cast<uint16_t>(value));
    high_.Write(w, static_cast<uint16_t>(value >> 16));
    array_ = low_.ReadsArray() && high_.ReadsArray();
  }

  std::vector<uint32_t> State() override {
    std::vector<uint32_t> out;
    for (FlashChip* chip : {&low_, &high_}) {
      const auto words = chip->State();
      out.insert(out.end(), words.begin(), words.end());
    }
    return out;
  }
  bool Restore(std::span<const uint32_t> state) override {
    if (state.size() != 6 || !low_.Restore(state.first(3)) || !high_.Restore(state.last(3))) {
      return false;
    }
    array_ = low_.ReadsArray() && high_.ReadsArray();
    return true;
  }

  FlashChip& low() { return low_; }
  FlashChip& high() { return high_; }

 private:
  // The chips point into the image; follow it if the owner reallocated it, and never reach
  // past it if the owner shrank it.
  bool Bound() {
    if (image_.size() != size_) return false;
    if (image_.data() != bound_) {
      bound_ = image_.data();
      low_.Rebind(bound_);
      high_.Rebind(bound_ + 2);
    }
    return true;
  }

  std::vector<uint8_t>& image_;
  const uint32_t base_, size_;
  uint8_t* bound_;
  FlashChip low_, high_;
  bool array_ = true;
};

// Plain memory that only the decoder's loader writes: bus writes do not reach it.
class LoaderOnlyBoard final : public BusDevice {
 public:
  LoaderOnlyBoard(const FlashBoardGeometry& layout, std::vector<uint8_t>& image)
      : image_(image), base_(layout.base), size_(layout.size) {}
  uint32_t Read(uint32_t address) override {
    if (image_.size() != size_) return 0xFFFFFFFF;
    return Load32(image_.data() + ((address - base_) & (size_ - 4)));
  }
  void Write(uint32_t, uint32_t) override {}

 private:
  std::vector<uint8_t>& image_;
  const uint32_t base_, size_;
};

std::unique_ptr<BusDevice> Fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return nullptr;
}

}  // namespace

const FlashBoardGeometry* FlashBoardFor(const std::string& caption) {
  const BoardRow* row = RowFor(caption);
  return row ? &row->layout : nullptr;
}

std::unique_ptr<BusDevice> MakeFlashBoard(const std::string& caption, const Conf& conf,
                                          std::vector<uint8_t>& image, VirtualClock& clock,
                                          std::string* error) {
  const BoardRow* row = RowFor(caption);
  if (!row) return Fail(error, "no flash board is known for the model \"" + caption + "\"");
  const FlashBoardGeometry& layout = row->layout;
  if (image.size() != layout.size) {
    return Fail(error, "flash.bin holds " + std::to_string(image.size()) + " bytes; the " +
                           layout.caption + " flash is " + std::to_string(layout.size) + " bytes (" +
                           Bytes(layout.size) + ")");
  }
  if (row->loaderOnly) return std::make_unique<LoaderOnlyBoard>(layout, image);

  const std::string deviceName = conf.GetString("flash_device", row->defaultDevice);
  const ChipType* type = FindChipType(deviceName);
  if (!type || type->words < layout.size / 4) {
    return Fail(error, "flash_device \"" + deviceName + "\" is not a part the " + layout.caption +
                           " board takes; it takes " + ChipsFor(*row));
  }

  uint16_t maker = type->maker;
  if (const auto m = conf.Get("flash_maker")) {
    maker = MakerCode(*m);
    if (maker == 0) {
      const auto n = Number(*m);
      if (!n || *n == 0 || *n > 0xFFFF) {
        return Fail(error, "flash_maker \"" + *m +
                               "\" is neither AMD, ST, FUJITSU, HYNIX nor a code from 0x1 to "
                               "0xFFFF");
      }
      maker = static_cast<uint16_t>(*n);
    }
  }

  ChipId id{maker, type->device};
  if (const auto text = conf.Get("flash_id")) {
    const size_t colon = text->find(':');
    const auto m = colon == std::string::npos ? std::nullopt : HexCode(text->substr(0, colon));
    const auto d = colon == std::string::npos ? std::nullopt : HexCode(text->substr(colon + 1));
    if (!m || !d) {
      return Fail(error, "flash_id \"" + *text +
                             "\" is not MAKER:DEVICE, two hexadecimal codes up to FFFF such as "
                             "0x0001:0x22DA");
    }
    if (conf.Get("flash_maker")) {
      return Fail(error, "flash_id and flash_maker both give the maker code; keep one of them");
    }
    id = {*m, *d};
  }

  // A slow or fast part: from a tenth of the typical times up to the data sheet's maximum.
  int percent[2] = {100, 100};
  const struct {
    const char* key;
    int maximum;
    std::string what;
  } timeKeys[] = {{"erase_time_percent", MaxErasePercent(*type),
                   "erases a sector in " + Seconds(type->sectorEraseUs) + " typically, " +
                       Seconds(type->sectorEraseMaxUs) + " at most"},
                  {"program_time_percent", MaxProgramPercent(*type),
                   "programs a word in " + std::to_string(type->programUs) + " µs typically, " +
                       std::to_string(type->programMaxUs) + " µs at most"}};
  for (int i = 0; i < 2; ++i) {
    const auto text = conf.Get(timeKeys[i].key);
    if (!text) continue;
    const auto v = Conf::ParseInt(*text);
    if (!v || *v < kMinTimePercent || *v > timeKeys[i].maximum) {
      return Fail(error, std::string(timeKeys[i].key) + " = " + *text +
                             ": expected a whole number from " + std::to_string(kMinTimePercent) +
                             " to " + std::to_string(timeKeys[i].maximum) + " (the " + type->name +
                             " " + timeKeys[i].what + ")");
    }
    percent[i] = static_cast<int>(*v);
  }

  auto board = std::make_unique<ChipBoard>(layout, image, *type, id, WiringOf(row->low),
                                           WiringOf(row->high), clock);
  board->low().SetTimePercent(percent[0], percent[1]);
  board->high().SetTimePercent(percent[0], percent[1]);
  // An address of this flash as a chip word, or an error text.
  auto wordOf = [&](const std::string& key, const std::string& token, uint32_t address,
                    std::string* why) -> std::optional<uint32_t> {
    if (address < layout.base || address - layout.base >= layout.size) {
      *why = key + ": " + token + " lies outside the flash (" + Hex(layout.base) + " to " +
             Hex(layout.base + (layout.size - 1)) + ")";
      return std::nullopt;
    }
    if (address % 4 != 0) {
      *why = key + ": " + token + " is not the address of a 32-bit word (a multiple of 4)";
      return std::nullopt;
    }
    return (address - layout.base) / 4;
  };

  if (const auto text = conf.Get("protected_sectors")) {
    for (const std::string& token : Tokens(*text)) {
      // ADDRESS/low or ADDRESS/high: the chip on bus bits 0-15 or 16-31 alone.
      const size_t slash = token.find('/');
      const std::string chip = slash == std::string::npos ? "" : token.substr(slash + 1);
      if (slash != std::string::npos && chip != "low" && chip != "high") {
        return Fail(error, "protected_sectors: \"" + token +
                               "\" names no chip: ADDRESS/low is the chip on bus bits 0-15, "
                               "ADDRESS/high the one on bits 16-31");
      }
      const auto address = Number(token.substr(0, slash));
      if (!address)
        return Fail(error, "protected_sectors: \"" + token +
                               "\" is not an address"
                               " (hexadecimal needs 0x)");
      std::string why;
      const auto word = wordOf("protected_sectors", token, *address, &why);
      if (!word) return Fail(error, why);
      const int s = board->low().SectorOf(*word);
      const uint32_t start = board->low().sectorStarts()[s];
      if (start != *word) {
        return Fail(error, "protected_sectors: " + token + " is not the start of a sector (" +
                               type->name + ": that sector starts at " +
                               Hex(layout.base + start * 4) + ")");
      }
      if (chip != "high") board->low().SetProtected(s, true);
      if (chip != "low") board->high().SetProtected(s, true);
    }
  }

  if (const auto text = conf.Get("stuck_bits")) {
    for (const std::string& token : Tokens(*text)) {
      const size_t colon = token.find(':');
      const auto address =
          colon == std::string::npos ? std::nullopt : Number(token.substr(0, colon));
      const auto mask = colon == std::string::npos ? std::nullopt : Number(token.substr(colon + 1));
      if (!address || !mask) {
        return Fail(error, "stuck_bits: \"" + token +
                               "\" is not an address:mask pair such as 0x7FE00010:0x00000100");
      }
      std::string why;
      const auto word = wordOf("stuck_bits", token, *address, &why);
      if (!word) return Fail(error, why);
      if (*mask & 0xFFFF) board->low().AddStuckBits(*word, static_cast<uint16_t>(*mask));
      if (*mask >> 16) board->high().AddStuckBits(*word, static_cast<uint16_t>(*mask >> 16));
    }
  }
  return board;
}

std::string FlashConfDefaults(const std::string& caption) {
  const BoardRow* row = RowFor(caption);
  if (!row) return "";
  const FlashBoardGeometry& layout = row->layout;
  if (row->loaderOnly) {
    return "# Flash (" + Hex(layout.base) + ", " + Bytes(layout.size) +
           "): plain memory that only the decoder's loader writes; bus\n"
           "# writes are ignored, so flash_device, flash_maker, flash_id, protected_sectors,\n"
           "# stuck_bits, erase_time_percent and program_time_percent do not apply to this\n"
           "# model.\n";
  }
  std::string s;
  s += "# Flash (" + Hex(layout.base) + ", " + Bytes(layout.size) +
       "): two 16-bit chips of the same part, one on each half of\n"
       "# the data bus.\n";
  s += "# flash_device: the part fitted. This board takes " + ChipsFor(*row) + ".\n";
  s += std::string("flash_device = ") + row->defaultDevice + "\n";
  s += "# flash_maker: the manufacturer code the chips answer with, when it should differ\n"
       "# from the part's own: AMD, ST, FUJITSU, HYNIX or a number such as 0x01.\n"
       "# flash_maker = AMD\n";
  s += "# flash_id: MAKER:DEVICE, the codes both chips answer in autoselect mode (words 0\n"
       "# and 1, on each chip's own data lines) instead of the part's, in hexadecimal with or\n"
       "# without 0x. The chips stay flash_device parts otherwise. Not with flash_maker.\n"
       "# flash_id = 0x0001:0x1234\n";
  s += "# protected_sectors: bus addresses of sector starts that ignore program and erase\n"
       "# (autoselect word 2 of the sector reads 1), separated by blanks or commas.\n"
       "# ADDRESS/low or ADDRESS/high protects the sector in one chip only, the one on bus\n"
       "# bits 0-15 or 16-31; only that chip then shows it.\n"
       "# protected_sectors = " +
       Hex(layout.base + 0x20000) + " " + Hex(layout.base + 0x40000) + "/high\n";
  s += "# stuck_bits: address:mask pairs; the masked bits of that bus word never program\n"
       "# (they stay 1).\n"
       "# stuck_bits = " +
       Hex(layout.base + 0x10) + ":0x00000100\n";
  const ChipType& part = *FindChipType(row->defaultDevice);
  s += "# erase_time_percent: sector and chip erase times in percent of the part's typical\n"
       "# ones, for a slow or fast part: 10 up to the part's sector-erase maximum, " +
       std::to_string(MaxErasePercent(part)) + " for\n# the " + part.name +
       " (another flash_device has its own). A chip erase stops at\n"
       "# the part's chip-erase maximum where its data sheet gives one.\n"
       "erase_time_percent = 100\n";
  s += "# program_time_percent: the word-program time likewise, 10 up to the part's maximum:\n"
       "# " +
       std::to_string(MaxProgramPercent(part)) + " for the " + part.name + ".\n" +
       "program_time_percent = 100\n";
  return s;
}

}  // namespace corvane::sim
