#include "transfer/DataArea.h"

#include "target/Connection.h"
#include "transfer/Duration.h"
#include "transfer/RamLoader.h"
#include "transfer/TransferSteps.h"

namespace corvane {

namespace {

// Per model: where the RAM image goes and which loader writes it, and where the data area is
// read. A null loader means no write; zero read bytes means no read.
struct DataAreaRow {
  Model model;
  uint32_t ramBase;
  const char* loader;
  uint32_t readStart;
  uint32_t readBytes;
};

// clang-format off
constexpr DataAreaRow kDataAreaRows[] = {
  {Model::DSI185,  0x80002000, "TRAPDATA.BIN", 0xFFF80000, 0x80000},
  {Model::BCT13,   0x80002000, "TRAPDATA.BIN", 0xFFF80000, 0x80000},
  {Model::TS1,     0x80002000, "TRAPPACE.bin", 0xC0000000, 0x80000},
  {Model::DSX6070, 0x40000000, "TRAP6070.bin", 0x50000000, 0x80000},
  {Model::DSX6170, 0,          nullptr,        0x50000000, 0x200000},
  {Model::TVNbox,  0,          nullptr,        0,          0},
};
// clang-format on

constexpr uint32_t kImageWords = 0x20000;  // a data-area image is 512 KB

const DataAreaRow* RowOf(Model model) {
  for (const DataAreaRow& row : kDataAreaRows)
    if (row.model == model) return &row;
  return nullptr;
}

const std::string kStopVerifying =
    "Stop verifying? The data area has been written; only the check that it holds the file is "
    "skipped.";
const std::string kStopReading = "Stop reading the data area? No file will be saved.";

}  // namespace

bool WriteDataAreaOffered(Model model) {
  const DataAreaRow* row = RowOf(model);
  return row && row->loader;
}

bool ReadDataAreaOffered(Model model) {
  const DataAreaRow* row = RowOf(model);
  return row && row->readBytes != 0;
}

void WriteDataArea(Session& s) {
  const DataAreaRow* row = RowOf(s.model());
  if (!WriteDataAreaOffered(s.model())) {
    // Said before the decoder is touched: there is nothing to connect for.
    s.host.MessageBox(MessageKind::Error,
                      std::string("Write Data Area is not available for ") +
                          ProfileOf(s.model()).caption + ": nothing was written.",
                      Buttons::Ok);
    return;
  }
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Open, "Binary file (*.bin)|*.BIN", true);
    const auto& path = opening.path();
    if (!path) return;

    ImageReader image;
    if (!OpenInput(s, image, *path, 4ull * kImageWords, "data area file")) return;
    Duration plan(s.linkCost);
    if (s.backup) plan.Add("back-up", plan.Peeks(kImageWords));
    plan.Add("copy to RAM", plan.Pokes(kImageWords));
    // The loader's own copy is covered by the fixed wait after it.
    plan.Add("loader", 15'000'000 + plan.Pokes(30) + plan.Peeks(1));
    if (s.verifyAfterWrite) plan.Add("read-back", plan.Peeks(kImageWords));
    if (!Announce(s, "Write Data Area", plan, true)) return;
    // As Read Data Area saves it, so that this command can put it back.
    const auto backup = BackUp(s, row->readStart, kImageWords, WordOrder::Bus);
    if (!backup) return;
    WriteLogScope log(s);
    if (!log.Open()) return;

    CopyImageToRam(s, image, row->ramBase, kImageWords);
    const bool sent = UploadTrapRoutine(s, row->loader, 15000, "Writing Flash ~15 secs...");
    // Without its loader nothing reached the data area: the log has the reason before its
    // trailer, and nothing claims completion.
    if (!sent) {
      log.Finish();
      return;
    }
    // The loader gives no sign of success; reading the data area back is the only proof.
    bool good = true;
    if (s.verifyAfterWrite) {
      Verifier verifier(s, image, kImageWords, kStopVerifying);
      verifier.Range(0, row->readStart, kImageWords);
      good = verifier.Report(log);
    }
    image.Close();
    log.Finish();
    if (!good) return;
    s.host.MessageBox(MessageKind::Information,
                      CompletedText("Writing Data Area completed.", *backup), Buttons::Ok);
  });
}

void ReadDataArea(Session& s) {
  const DataAreaRow* row = RowOf(s.model());
  if (!ReadDataAreaOffered(s.model())) {
    s.host.MessageBox(MessageKind::Error,
                      std::string("Read Data Area is not available for ") +
                          ProfileOf(s.model()).caption + ": nothing was read.",
                      Buttons::Ok);
    return;
  }
  RunTransfer(s, [&] {
    CommandOpening opening(s, Dialog::Save, "Binary file (*.bin) | *.BIN", false);
    const auto& path = opening.path();
    if (!path) return;

    AtomicFile out;
    if (!OpenOutput(s, out, *path)) return;
    const uint32_t words = row->readBytes / 4;
    StartRead(s, "Read Data Area", "Reading Data...", words);
    ReadWordsToFile(s, out, row->readStart, words, kStopReading);
    if (!CommitOutput(s, out)) return;
    s.host.MessageBox(MessageKind::Information, "Reading Data completed.", Buttons::Ok);
  });
}

}  // namespace corvane
