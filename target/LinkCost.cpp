#include "target/LinkCost.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>

#include "target/Files.h"

namespace corvane {

namespace {

constexpr const char* kKeys[] = {"us_per_access", "accesses_per_poke", "accesses_per_peek"};
// What a working port can measure: an access from 10 ns to 10 ms, a poke or peek from ten
// to a hundred thousand accesses (the adapter's pace adds polls on a fast port). Anything
// else is a damaged file, and would overflow the estimates.
constexpr double kLow[] = {0.01, 10, 10};
constexpr double kHigh[] = {10000, 100000, 100000};
// Enough peeks that the clock's resolution and one preemption do not decide the figure.
constexpr uint64_t kMeasuredPeeks = 2048;

bool InBounds(int key, double value) { return value >= kLow[key] && value <= kHigh[key]; }

}  // namespace

bool LoadLinkCost(const std::string& path, LinkCost* cost) {
  if (path.empty()) return false;
  // A regular file of a few lines, or nothing: a FIFO or a device there must not hang or
  // flood the command.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  std::string text;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= 4096) {
    text.resize(static_cast<size_t>(st.st_size));
    const ssize_t n = ::read(fd, text.data(), text.size());
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  ::close(fd);
  double values[3] = {0, 0, 0};
  bool found[3] = {false, false, false};
  bool byReads = false;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    const size_t eq = line.find('=');
    if (line.empty() || line[0] == '#' || eq == std::string::npos) continue;
    std::string key = line.substr(0, eq);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    const std::string value = line.substr(eq + 1);
    if (key == "measured_by") byReads = value.find("reads") != std::string::npos;
    char* end = nullptr;
    const double v = std::strtod(value.c_str(), &end);
    for (int k = 0; k < 3; ++k) {
      if (key == kKeys[k] && end != value.c_str() && InBounds(k, v)) {
        values[k] = v;
        found[k] = true;
      }
    }
  }
  // A file that lost a line is no measurement: the defaults are better than a guess.
  if (!found[0] || !found[1] || !found[2]) {
    cost->unusable = true;
    return false;
  }
  cost->usPerAccess = values[0];
  cost->accessesPerPoke = values[1];
  cost->accessesPerPeek = values[2];
  cost->measured = true;
  cost->byReads = byReads;
  return true;
}

bool TakeReadMeasurement(LinkCost* cost, uint64_t accesses, uint64_t peeks, int64_t us) {
  if (peeks < kMeasuredPeeks || accesses == 0 || us <= 0) return false;
  const double usPerAccess = static_cast<double>(us) / static_cast<double>(accesses);
  const double perPeek = static_cast<double>(accesses) / static_cast<double>(peeks);
  if (!InBounds(0, usPerAccess) || !InBounds(2, perPeek)) return false;
  const double perPoke = cost->accessesPerPoke * perPeek / cost->accessesPerPeek;
  if (!InBounds(1, perPoke)) return false;
  cost->usPerAccess = usPerAccess;
  cost->accessesPerPeek = perPeek;
  cost->accessesPerPoke = perPoke;
  cost->measured = true;
  cost->byReads = true;
  cost->unusable = false;
  return true;
}

bool SaveLinkCost(const std::string& path, const LinkCost& cost, std::string* error) {
  char text[320];
  const int n =
      std::snprintf(text, sizeof text,
                    "# What the last link test or command measured on this port; the time "
                    "estimates use it.\n"
                    "us_per_access = %.4f\naccesses_per_poke = %.2f\naccesses_per_peek = %.2f\n"
                    "measured_by = %s\n",
                    cost.usPerAccess, cost.accessesPerPoke, cost.accessesPerPeek,
                    cost.byReads ? "reads" : "link test");
  // A name of our own, never a file someone left under a fixed name like PATH.tmp.
  std::string temp;
  const int fd = CreateTemporaryBeside(path, &temp);
  if (fd < 0) {
    if (error) *error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  const bool written = ::write(fd, text, static_cast<size_t>(n)) == n && ::fsync(fd) == 0;
  const int e = errno;
  if (::close(fd) != 0 || !written) {
    if (error) *error = "cannot write " + temp + ": " + std::strerror(written ? errno : e);
    ::unlink(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    if (error) *error = "cannot replace " + path + ": " + std::strerror(errno);
    ::unlink(temp.c_str());
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
