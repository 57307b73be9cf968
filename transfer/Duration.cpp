#include "transfer/Duration.h"

#include <algorithm>

#include <cmath>
#include <cstdio>

namespace corvane {

namespace {

constexpr double kPollSleepUs = 1000;  // the erase poll's sleep
constexpr double kProgramWaitUs = 200;  // the programming read-back's first wait

}  // namespace

double Duration::Erase(double typicalUs, int sequencePokes) const {
  const double poll = kPollSleepUs + cost_.PeekUs();
  return Pokes(sequencePokes) + std::ceil(typicalUs / poll) * poll + Peeks(1);
}

double Duration::ProgramWord(int commandPokes) const {
  return Pokes(commandPokes) + kProgramWaitUs + Peeks(2);
}

void Duration::Add(const std::string& part, double us) {
  for (auto& [name, value] : parts_) {
    if (name == part) {
      value += us;
      return;
    }
  }
  parts_.emplace_back(part, us);
}

int64_t Duration::total() const {
  double sum = 0;
  for (const auto& part : parts_) sum += part.second;
  return static_cast<int64_t>(std::llround(sum));
}

int64_t Duration::PartUs(const std::string& part) const {
  for (const auto& [name, us] : parts_) {
    if (name == part) return std::llround(us);
  }
  return 0;
}

int64_t Duration::AfterUs(const std::string& part) const {
  double after = 0;
  bool past = false;
  for (const auto& [name, us] : parts_) {
    if (past) after += us;
    past = past || name == part;
  }
  return std::llround(after);
}

std::string Duration::Summary() const {
  std::string list;
  for (const auto& [name, us] : parts_) {
    if (parts_.size() < 2) break;
    list += (list.empty() ? ": " : ", ") + name + " " + DurationText(static_cast<int64_t>(us));
  }
  return DurationText(total()) + list;
}

std::string Duration::Text(const std::string& command, Model model) const {
  std::string text = command + " on " + ProfileOf(model).caption + " takes " + Summary();
  char cost[160];
  std::snprintf(cost, sizeof cost, " (%.2f µs a port access, %s).", cost_.usPerAccess,
                cost_.measured && cost_.byReads ? "measured on this port by the last reads"
                : cost_.measured                ? "measured by a link test"
                : cost_.unusable ? "assumed: the stored measurement is out of bounds, a link "
                                   "test measures it again"
                                 : "assumed: a link test measures it");
  return text + cost;
}

bool Announce(Session& s, const std::string& command, const Duration& duration, bool ask) {
  char seconds[48];
  std::snprintf(seconds, sizeof seconds, "estimate: %.3f s",
                static_cast<double>(duration.total()) / 1e6);
  s.details.push_back(seconds);
  if (s.host.AnnounceDuration(duration.Text(command, s.model()), ask) != Answer::Yes) {
    return false;
  }
  s.plannedUs = duration.total();
  s.host.SetTimeBudget(duration.total(), &s.clock());
  return true;
}

void BeginPart(Session& s, const Duration& d, const std::string& part) {
  BeginParts(s, d, part, part);
}

namespace {

void SayPhase(Session& s, const std::string& name, double phaseUs) {
  const double planned = static_cast<double>(s.plannedUs);
  s.host.SetPhase(name, planned > 0 ? static_cast<int>(std::clamp(std::lround(100 * phaseUs / planned), 0L, 100L)) : 0);
}

}  // namespace

void BeginParts(Session& s, const Duration& d, const std::string& first,
                const std::string& last) {
  const int64_t phase = d.AfterUs(first) + d.PartUs(first) - d.AfterUs(last);
  SayPhase(s, first == last ? first : first + " and " + last, static_cast<double>(phase));
  s.host.SetTimeBudget(phase, &s.clock(), d.AfterUs(last));
}

void BeginStep(Session& s, const std::string& name, double phaseUs, double afterUs) {
  SayPhase(s, name, phaseUs);
  s.host.SetTimeBudget(std::llround(phaseUs), &s.clock(), std::llround(afterUs));
}

void StartRead(Session& s, const std::string& command, const std::string& status,
               uint32_t words) {
  Duration plan(s.linkCost);
  plan.Add("read", plan.Peeks(words));
  Announce(s, command, plan, false);
  s.host.SetStatus(status);
  s.host.SetProgressRange(0, static_cast<int>(words));
  s.host.SetProgressPosition(0);
  s.host.Repaint();
}

}  // namespace corvane
