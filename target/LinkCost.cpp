#include "target/LinkCost.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace corvane {

namespace {

constexpr const char* kKeys[] = {"us_per_access", "accesses_per_poke", "accesses_per_peek"};

}  // namespace

bool LoadLinkCost(const std::string& path, LinkCost* cost) {
  if (path.empty()) return false;
  std::ifstream in(path);
  if (!in) return false;
  double values[3] = {0, 0, 0};
  bool found[3] = {false, false, false};
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    const std::string text = line.substr(eq + 1);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    for (int k = 0; k < 3; ++k) {
      if (key == kKeys[k] && end != text.c_str() && v > 0 && v < 1e6) {
        values[k] = v;
        found[k] = true;
      }
    }
  }
  // A file that lost a line is no measurement: the defaults are better than a guess.
  if (!found[0] || !found[1] || !found[2]) return false;
  cost->usPerAccess = values[0];
  cost->accessesPerPoke = values[1];
  cost->accessesPerPeek = values[2];
  cost->measured = true;
  return true;
}

bool SaveLinkCost(const std::string& path, const LinkCost& cost, std::string* error) {
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::trunc);
    char text[256];
    std::snprintf(text, sizeof text,
                  "# What the last link test measured on this port; the time estimates use it.\n"
                  "us_per_access = %.4f\naccesses_per_poke = %.2f\naccesses_per_peek = %.2f\n",
                  cost.usPerAccess, cost.accessesPerPoke, cost.accessesPerPeek);
    out << text;
    out.close();
    if (!out) {
      if (error) *error = "cannot write " + temp;
      std::remove(temp.c_str());
      return false;
    }
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot replace " + path;
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

std::string DurationText(int64_t us) {
  const int64_t s = (us + 500000) / 1000000;
  if (s < 90) return "about " + std::to_string(s < 1 ? 1 : s) + " s";
  const int64_t minutes = (s + 30) / 60;
  if (minutes < 90) return "about " + std::to_string(minutes) + " min";
  return "about " + std::to_string(minutes / 60) + " h " + std::to_string(minutes % 60) + " min";
}

}  // namespace corvane
