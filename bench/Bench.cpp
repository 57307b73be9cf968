// How much the tool adds to the link's own time: the long commands on the virtual decoder,
// once through the terminal host and once through the window, against the port-access floor
// of 1 µs per access that real hardware sets.
#include <QApplication>
#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/QtHost.h"
#include "app/Unit1.h"
#include "cli/TerminalHost.h"
#include "link/corvane.h"
#include "sim/VirtualDecoder.h"
#include "station/Backend.h"
#include "station/Runner.h"
#include "target/Connection.h"
#include "target/Session.h"
#include "target/Profiles.h"
#include "target/TimeLeft.h"
#include "flash/FlashModels.h"

using corvane::CommandId;
using corvane::Model;
namespace cli = corvane::cli;

namespace {

double Seconds() {
  using namespace std::chrono;
  return duration<double>(steady_clock::now().time_since_epoch()).count();
}

struct BenchCommand {
  const char* name;
  Model model;
  CommandId command;
  uint64_t words;       // what the progress counts: words, or bytes for the EEPROM
  const char* done;     // the completion message
  const char* file;     // the file the dialog answers with, in the run's folder
  uint64_t outputSize;  // bytes the command must leave in the file (0: an input)
};

// Write first, so the read has the image to bring back.
constexpr BenchCommand kCommands[] = {
    {"Write Firmware DSX6170", Model::DSX6170, CommandId::WriteFirmware, 0x100000,
     "Writing Flash completed.", "image.bin", 0},
    {"Read Firmware DSX6170", Model::DSX6170, CommandId::ReadFirmware, 0x100000,
     "Reading Flash completed.", "read.bin", 0x400000},
    {"Read eeprom DSX6170", Model::DSX6170, CommandId::ReadEeprom, 0x2000,
     "Reading Eeprom completed.", "eeprom.bin", 0x2000},
    {"Ramdump 6072", Model::DSX6071_6072, CommandId::RamDump6072, 0x80000,
     "Reading RAM completed.", "ram6072.bin", 0x200000},
};
constexpr size_t kCommandCount = std::size(kCommands);

struct Measure {
  double wallS = 0;
  uint64_t accesses = 0;
  double hardwareS = 0;  // the virtual decoder's estimate of the same traffic on hardware
  bool ok = false;
  std::string problem;
  // The window only: status panel paints a second, and the longest time the event queue
  // went unserved, which is how late Escape or a close would be seen.
  double paintsPerS = 0;
  double maxGapMs = 0;
};

double Ratio(const Measure& m) {
  return m.accesses == 0 ? 0 : m.wallS / (static_cast<double>(m.accesses) * 1e-6);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// A 4 MB image with no erased words, so every word is programmed.
std::string MakeImage(const std::string& path) {
  std::string bytes(0x400000, '\0');
  for (uint32_t i = 0; i < 0x100000; ++i) {
    uint32_t v = i * 0x9E3779B1u + 0x01234567u;
    if (v == 0xFFFFFFFFu) v = 0;
    std::memcpy(&bytes[4 * i], &v, 4);
  }
  std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

// What the command left: its completion message and, for reads, a whole file.
void Check(const BenchCommand& c, const std::string& path, const std::string& image,
           const std::string& messages, Measure& m) {
  m.ok = false;
  if (messages.find(c.done) == std::string::npos) {
    m.problem = "no \"" + std::string(c.done) + "\"; shown: " + messages;
    return;
  }
  if (c.outputSize != 0) {
    const std::string out = ReadAll(path);
    if (out.size() != c.outputSize) {
      m.problem = path + " holds " + std::to_string(out.size()) + " bytes";
      return;
    }
    if (c.command == CommandId::ReadFirmware && out != image) {
      m.problem = "the flash read back differs from the image written";
      return;
    }
  }
  m.ok = true;
}

void TakeStats(corvane::Backend& backend, Measure& m) {
  if (const auto* decoder = backend.decoder()) {
    m.accesses = decoder->stats().portAccesses;
    m.hardwareS = static_cast<double>(decoder->stats().virtualTimeUs) * 1e-6;
  }
}

// --- the terminal host -----------------------------------------------------------------------

std::vector<Measure> RunTerminal(const std::string& dir, const std::string& image) {
  std::vector<Measure> results(kCommandCount);
  std::ostringstream sink;
  std::istringstream noInput;
  cli::TerminalHost startHost(sink, sink, noInput, {});
  corvane::TargetOptions options;
  options.simulateDir = dir;
  std::string error;
  auto backend = corvane::Backend::Start(options, startHost, &error);
  if (!backend) {
    for (auto& m : results) m.problem = error;
    return results;
  }
  // The decoders' files are opened before the clock starts: that is the simulator's work.
  for (const auto& c : kCommands) {
    backend->Begin(c.model, &error);
    backend->End(&error);
  }
  for (size_t i = 0; i < kCommandCount; ++i) {
    const BenchCommand& c = kCommands[i];
    Measure& m = results[i];
    const std::string path = dir + "/" + c.file;
    std::ostringstream out, err;
    cli::TerminalHost::Settings settings;
    settings.answer = false;
    settings.stderrIsTty = true;  // the progress line is drawn, into a string
    settings.path = path;
    cli::TerminalHost host(out, err, noInput, settings);
    corvane::RunRequest request;
    request.command = c.command;
    request.profile.model = c.model;
    request.logDir = dir;
    // The same traffic as the window's run: no backup before the write.
    request.backup.reset();
    const double t0 = Seconds();
    const corvane::RunResult result = corvane::RunOne(*backend, host, request);
    host.Finish();
    m.wallS = Seconds() - t0;
    if (!result.begun) {
      m.problem = result.beginError;
      continue;
    }
    TakeStats(*backend, m);
    Check(c, path, image, out.str() + err.str(), m);
    if (!result.endError.empty()) {
      m.ok = false;
      m.problem = result.endError;
    }
  }
  return results;
}

// --- the window ------------------------------------------------------------------------------

// Counts the paints of one widget.
class PaintCounter final : public QObject {
 public:
  explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
  int paints = 0;

 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::Paint) ++paints;
    return false;
  }
};

std::vector<Measure> RunWindow(const std::string& dir, const std::string& image) {
  std::vector<Measure> results(kCommandCount);
  TForm1::Options options;
  options.simulated = true;
  options.logDir = dir;
  options.startTarget = [dir](corvane::Host& host) {
    corvane::TargetOptions target;
    target.simulateDir = dir;
    return StartWindowBackend(target, host);
  };
  TForm1 form(options);
  // The same traffic as the terminal's run: no backup before the write.
  form.BackUpBeforeWriting1->setChecked(false);
  form.show();
  QApplication::processEvents();
  corvane::Backend* target = form.target();
  if (!target || !target->simulated()) {
    for (auto& m : results) m.problem = "the window has no virtual decoder";
    return results;
  }
  std::string error;
  for (const auto& c : kCommands) {
    target->Begin(c.model, &error);
    target->End(&error);
  }

  std::string path;
  form.host().SetDialogAnswer([&path](corvane::Dialog) { return std::optional<std::string>(path); });

  // Message boxes are read and closed as soon as they show; the same timer measures how long
  // the event queue waits between runs.
  std::string messages;
  double lastTick = 0, maxGap = 0;
  QTimer poll;
  poll.setInterval(1);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    const double now = Seconds();
    if (lastTick != 0) maxGap = std::max(maxGap, now - lastTick);
    lastTick = now;
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    const std::string text = box->text().toStdString();
    // The write's estimate is a question to go on; any other question is answered No.
    const bool start = text.find(" takes about ") != std::string::npos;
    if (!start) messages += text + "\n";
    QAbstractButton* button = box->button(QMessageBox::Ok);
    if (!button) button = box->button(start ? QMessageBox::Yes : QMessageBox::No);
    if (button) button->click();
  });
  poll.start();
  PaintCounter paints(form.StatusBar1->Panel(0));

  for (size_t i = 0; i < kCommandCount; ++i) {
    const BenchCommand& c = kCommands[i];
    Measure& m = results[i];
    path = dir + "/" + c.file;
    messages.clear();
    (c.model == Model::DSX6170 ? form.RadioButton8 : form.RadioButton1)->click();
    paints.paints = 0;
    lastTick = Seconds();
    maxGap = 0;
    const double t0 = Seconds();
    switch (c.command) {
      case CommandId::WriteFirmware: form.WriteFirmware1->trigger(); break;
      case CommandId::ReadFirmware: form.ReadFirmware1->trigger(); break;
      case CommandId::ReadEeprom: form.Read1->trigger(); break;
      case CommandId::RamDump6072: form.Ramdump60721->trigger(); break;
      default: break;
    }
    m.wallS = Seconds() - t0;
    m.maxGapMs = maxGap * 1e3;
    if (m.wallS > 0) m.paintsPerS = paints.paints / m.wallS;
    TakeStats(*target, m);
    Check(c, path, image, messages, m);
  }
  return results;
}

// --- the decoder alone -----------------------------------------------------------------------

// Peeks straight into a virtual decoder's flash: the simulator's own cost per access.
int RunPeeks(uint64_t count) {
  QTemporaryDir dir;
  std::string error;
  auto decoder = corvane::sim::VirtualDecoder::Open(dir.path().toStdString(), "DSX6170", &error);
  if (!decoder) {
    std::fprintf(stderr, "corvane-bench: %s\n", error.c_str());
    return 1;
  }
  // Connected as a command would be, so the peeks reach the flash, not the dead bus.
  corvane::Link link(*decoder, decoder->clock());
  corvane::EeBus ee(link);
  std::ostringstream sink;
  std::istringstream noInput;
  cli::TerminalHost host(sink, sink, noInput, {});
  corvane::ProfileSnapshot snapshot;
  snapshot.model = Model::DSX6170;
  corvane::Session session{link, ee, host, snapshot, decoder->directory(), dir.path().toStdString()};
  if (!corvane::Connect(session)) {
    std::fprintf(stderr, "corvane-bench: the virtual decoder does not answer\n");
    return 1;
  }
  decoder->ResetStats();
  uint32_t sum = 0;
  const double t0 = Seconds();
  for (uint64_t i = 0; i < count; ++i) sum += link.Peek(0x7FC00000u + 4 * static_cast<uint32_t>(i & 0xFFFFF));
  const double wall = Seconds() - t0;
  const uint64_t accesses = decoder->stats().portAccesses;
  std::printf("peeks: %" PRIu64 "  port accesses: %" PRIu64 "  (%.1f a peek)  checksum %08X\n",
              count, accesses, count ? static_cast<double>(accesses) / count : 0.0, sum);
  if (count != 0) {
    std::printf("per peek: %.1f ns   per port access: %.2f ns\n", wall * 1e9 / count,
                accesses ? wall * 1e9 / accesses : 0.0);
  }
  return 0;
}

// --- the time left ---------------------------------------------------------------------------

// Passes everything to a terminal host and keeps, at each step of the progress bar, the time
// left it would show (the same TimeLeft both hosts use) with the virtual clock's time.
class TimeLeftProbe final : public corvane::ForwardingHost {
 public:
  struct Sample {
    int64_t now, left;
  };
  using ForwardingHost::ForwardingHost;
  void SetProgressRange(int minimum, int maximum) override {
    minimum_ = minimum;
    maximum_ = maximum;
    inner_.SetProgressRange(minimum, maximum);
  }
  void SetProgressPosition(int position) override {
    inner_.SetProgressPosition(position);
    if (clock_ == nullptr || !left_.running()) return;
    const int64_t now = clock_->Now();
    if (!samples.empty() && now - samples.back().now < 100'000) return;
    samples.push_back({now, left_.Left(now, minimum_, maximum_, position)});
  }
  void SetTimeBudget(int64_t phaseUs, corvane::Clock* clock, int64_t afterUs) override {
    if (clock != nullptr && start < 0) start = clock->Now();
    if (clock != nullptr) last_ = clock;
    clock_ = clock;
    if (clock) left_.Start(clock->Now(), phaseUs, afterUs);
    inner_.SetTimeBudget(phaseUs, clock, afterUs);
  }
  void SetTimeAfter(int64_t afterUs) override {
    left_.SetAfter(afterUs);
    inner_.SetTimeAfter(afterUs);
  }
  int64_t Now() const { return last_ ? last_->Now() : 0; }

  std::vector<Sample> samples;
  int64_t start = -1;

 private:
  corvane::Clock* clock_ = nullptr;  // while a budget runs
  corvane::Clock* last_ = nullptr;
  corvane::TimeLeft left_;
  int minimum_ = 0, maximum_ = 0;
};


// A write of image A over an erased flash, then of A with a few sectors changed, on a port
// three times slower than the assumed 1 us and no link test: the time left shown at a
// quarter, half and three quarters of each write against the virtual time really left,
// and the estimate refined after the comparison against the write's virtual time.
int RunTimeLeft(const std::string& modelName, const std::string& root) {
  const auto model = corvane::ModelFromName(modelName);
  if (!model) {
    std::fprintf(stderr, "corvane-bench: unknown model %s\n", modelName.c_str());
    return 2;
  }
  const auto& flash = corvane::FlashModelOf(*model);
  std::string a(4 * static_cast<size_t>(flash.words), '\0');
  uint32_t x = 0x2545F491;
  for (char& c : a) {
    x ^= x << 13, x ^= x >> 17, x ^= x << 5;
    c = static_cast<char>(x);
  }
  std::string b = a;
  for (size_t i = 0x20000 * 3 + 40; i < b.size(); i += 0x20000 * 17) b[i] ^= 0x5A;
  std::ofstream(root + "/a.bin", std::ios::binary).write(a.data(), static_cast<std::streamsize>(a.size()));
  std::ofstream(root + "/b.bin", std::ios::binary).write(b.data(), static_cast<std::streamsize>(b.size()));

  std::ostringstream sink;
  std::istringstream noInput;
  cli::TerminalHost startHost(sink, sink, noInput, {});
  corvane::TargetOptions options;
  options.simulateDir = root + "/vd";
  std::string error;
  auto backend = corvane::Backend::Start(options, startHost, &error);
  if (!backend || !backend->Begin(*model, &error) || !backend->End(&error)) {
    std::fprintf(stderr, "corvane-bench: %s\n", error.c_str());
    return 1;
  }
  const std::string conf = root + "/vd/" + corvane::ModelFolderName(*model) + "/decoder.conf";
  std::string text;
  {
    std::ifstream in(conf);
    text.assign(std::istreambuf_iterator<char>(in), {});
  }
  const size_t at = text.find("\nport_access_us = 1\n");
  if (at == std::string::npos) {
    std::fprintf(stderr, "corvane-bench: no port_access_us line in %s\n", conf.c_str());
    return 1;
  }
  text.replace(at, 20, "\nport_access_us = 3\n");
  std::ofstream(conf) << text;

  std::printf("%-12s %-28s %10s %9s %9s %9s %12s\n", "model", "write", "virtual s", "left@25%",
              "left@50%", "left@75%", "refined");
  bool ok = true;
  const struct {
    const char* file;
    const char* what;
    bool full;
  } writes[] = {{"a.bin", "A over an erased flash", false},
                {"b.bin", "A with a few sectors changed", false},
                {"a.bin", "A again, --full-write", true}};
  for (const auto& [file, what, full] : writes) {
    std::ostringstream out, err;
    cli::TerminalHost::Settings settings;
    settings.answer = true;
    settings.path = root + "/" + file;
    cli::TerminalHost terminal(out, err, noInput, settings);
    TimeLeftProbe probe(terminal);
    corvane::RunRequest request;
    request.command = CommandId::WriteFirmware;
    request.profile.model = *model;
    request.logDir = root;
    request.fullWrite = full;
    const corvane::RunResult result = corvane::RunOne(*backend, probe, request);
    terminal.Finish();
    const int64_t end = probe.Now();
    const double total = static_cast<double>(end - probe.start);
    if (err.str().find("Writing Flash completed") == std::string::npos &&
        out.str().find("Writing Flash completed") == std::string::npos) {
      std::fprintf(stderr, "corvane-bench: the write of %s did not complete:\n%s%s\n", file,
                   out.str().c_str(), err.str().c_str());
      ok = false;
      continue;
    }
    std::string cells;
    for (double share : {0.25, 0.5, 0.75}) {
      const double when = static_cast<double>(probe.start) + share * total;
      const TimeLeftProbe::Sample* best = nullptr;
      for (const auto& s : probe.samples) {
        if (!best || std::abs(static_cast<double>(s.now) - when) <
                         std::abs(static_cast<double>(best->now) - when)) {
          best = &s;
        }
      }
      char cell[32];
      if (best) {
        const double really = static_cast<double>(end - best->now);
        std::snprintf(cell, sizeof cell, " %+8.1f%%", 100.0 * (static_cast<double>(best->left) - really) / really);
      } else {
        std::snprintf(cell, sizeof cell, " %9s", "-");
      }
      cells += cell;
    }
    std::string refined = "-";
    for (const std::string& d : result.details) {
      double seconds = 0;
      if (std::sscanf(d.c_str(), "refined estimate: %lf s", &seconds) == 1) {
        char cell[32];
        std::snprintf(cell, sizeof cell, "%+.1f%%", 100.0 * (seconds * 1e6 - total) / total);
        refined = cell;
      }
    }
    std::printf("%-12s %-28s %10.1f%s %12s\n", modelName.c_str(), what, total / 1e6,
                cells.c_str(), refined.c_str());
  }
  return ok ? 0 : 1;
}

void PrintRow(const char* host, const BenchCommand& c, const std::vector<Measure>& runs) {
  double wMin = 1e300, wMax = 0, rMin = 1e300, rMax = 0;
  for (const Measure& m : runs) {
    wMin = std::min(wMin, m.wallS);
    wMax = std::max(wMax, m.wallS);
    rMin = std::min(rMin, Ratio(m));
    rMax = std::max(rMax, Ratio(m));
  }
  const Measure& first = runs.front();
  const double perWord = static_cast<double>(first.accesses) / static_cast<double>(c.words);
  auto range = [&](double lo, double hi, int decimals) {
    char text[64];
    if (runs.size() == 1) std::snprintf(text, sizeof text, "%.*f", decimals, lo);
    else std::snprintf(text, sizeof text, "%.*f-%.*f", decimals, lo, decimals, hi);
    return std::string(text);
  };
  std::printf("%-24s %-8s %8" PRIu64 " %9.1f %13s %11s %9.1f %15s\n", c.name, host, c.words,
              perWord, range(wMin, wMax, 2).c_str(),
              range(wMin * 1e6 / c.words, wMax * 1e6 / c.words, 2).c_str(), first.hardwareS,
              range(rMin, rMax, 4).c_str());
}

int Usage() {
  std::fputs(
      "usage: corvane-bench [--runs N] [--only terminal|window]\n"
      "       corvane-bench --peeks N\n"
      "       corvane-bench --time-left MODEL\n"
      "Runs Write Firmware and Read Firmware (DSX6170, 4 MB), Read eeprom (8 KB) and Ramdump\n"
      "6072 on the virtual decoder through the terminal host and the window (offscreen), and\n"
      "prints the tool's time next to the 1 us a port access takes on real hardware.\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 1;
  bool terminal = true, window = true;
  std::optional<uint64_t> peeks;
  std::optional<std::string> timeLeftModel;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const bool hasValue = i + 1 < argc;
    if (a == "--runs" && hasValue) {
      runs = std::atoi(argv[++i]);
      if (runs < 1) return Usage();
    } else if (a == "--peeks" && hasValue) {
      peeks = std::strtoull(argv[++i], nullptr, 10);
    } else if (a == "--time-left" && hasValue) {
      timeLeftModel = argv[++i];
    } else if (a == "--only" && hasValue) {
      const std::string which = argv[++i];
      terminal = which == "terminal";
      window = which == "window";
      if (!terminal && !window) return Usage();
    } else {
      return Usage();
    }
  }
  if (peeks) return RunPeeks(*peeks);
  if (timeLeftModel) {
    QTemporaryDir dir;
    return RunTimeLeft(*timeLeftModel, dir.path().toStdString());
  }

  // No display needed: the window draws into memory unless told otherwise.
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  QTemporaryDir root;
  if (!root.isValid()) {
    std::fputs("corvane-bench: no temporary folder\n", stderr);
    return 1;
  }
  const std::string image = MakeImage(root.filePath(QStringLiteral("image.bin")).toStdString());

  std::vector<std::vector<Measure>> term(kCommandCount), win(kCommandCount);
  bool allOk = true;
  auto collect = [&](std::vector<std::vector<Measure>>& into, std::vector<Measure> got,
                     const char* host) {
    for (size_t i = 0; i < kCommandCount; ++i) {
      if (!got[i].ok) {
        allOk = false;
        std::fprintf(stderr, "%s / %s failed: %s\n", host, kCommands[i].name,
                     got[i].problem.c_str());
      }
      into[i].push_back(got[i]);
    }
  };
  for (int r = 0; r < runs; ++r) {
    if (terminal) {
      const std::string dir = root.filePath(QStringLiteral("terminal%1").arg(r)).toStdString();
      std::filesystem::create_directories(dir);
      std::filesystem::copy_file(root.filePath(QStringLiteral("image.bin")).toStdString(),
                                 dir + "/image.bin");
      collect(term, RunTerminal(dir, image), "terminal");
    }
    if (window) {
      const std::string dir = root.filePath(QStringLiteral("window%1").arg(r)).toStdString();
      std::filesystem::create_directories(dir);
      std::filesystem::copy_file(root.filePath(QStringLiteral("image.bin")).toStdString(),
                                 dir + "/image.bin");
      collect(win, RunWindow(dir, image), "window");
    }
  }

  std::printf("runs: %d   floor: 1 us a port access   ratio = wall / (accesses x 1 us)\n", runs);
  std::printf("%-24s %-8s %8s %9s %13s %11s %9s %15s\n", "command", "host", "words", "acc/word",
              "wall s", "host us/w", "hw est s", "overhead ratio");
  double worst = 0;
  for (size_t i = 0; i < kCommandCount; ++i) {
    for (auto* rows : {&term, &win}) {
      if ((*rows)[i].empty()) continue;
      PrintRow(rows == &term ? "terminal" : "window", kCommands[i], (*rows)[i]);
      for (const Measure& m : (*rows)[i]) worst = std::max(worst, Ratio(m));
    }
  }
  if (window) {
    std::printf("%-24s %-8s %15s %22s\n", "command", "host", "paints/s", "queue unserved max ms");
    for (size_t i = 0; i < kCommandCount; ++i) {
      double paintsMax = 0, gapMax = 0;
      for (const Measure& m : win[i]) {
        paintsMax = std::max(paintsMax, m.paintsPerS);
        gapMax = std::max(gapMax, m.maxGapMs);
      }
      std::printf("%-24s %-8s %15.1f %22.1f\n", kCommands[i].name, "window", paintsMax, gapMax);
    }
  }
  std::printf("overhead ratio max: %.4f\n", worst);
  return allOk ? 0 : 1;
}
