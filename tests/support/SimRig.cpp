#include "support/SimRig.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace corvane::testing {

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string pattern = (fs::temp_directory_path() / "corvane-test-XXXXXX").string();
  if (!::mkdtemp(pattern.data())) throw std::runtime_error("cannot make a temporary folder");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

namespace {

std::unique_ptr<sim::VirtualDecoder> OpenDecoder(const std::string& dir, Model model,
                                                 const std::string& confLines) {
  if (!confLines.empty()) {
    const fs::path folder = fs::path(dir) / ModelFolderName(model);
    fs::create_directories(folder);
    std::ofstream(folder / "decoder.conf") << confLines << "\n";
  }
  std::string error;
  auto decoder = sim::VirtualDecoder::Open(dir, ProfileOf(model).caption, &error);
  if (!decoder) throw std::runtime_error("virtual decoder: " + error);
  return decoder;
}

}  // namespace

SimRig::SimRig(Model m, const std::string& confLines, bool withTap)
    : model(m),
      decoder(OpenDecoder(dir.path(), m, confLines)),
      tapped(withTap ? std::make_unique<TransactionTap>(*decoder) : nullptr),
      link(tapped ? static_cast<PortIo&>(*tapped) : *decoder, decoder->clock()),
      ee(link),
      session{link, ee, host, ProfileSnapshot{m}, decoder->directory(), dir.path()} {}

SimRig::~SimRig() = default;

void SimRig::Reopen() {
  std::string error;
  if (!decoder->Save(&error)) throw std::runtime_error("virtual decoder: " + error);
  decoder.reset();
  decoder = OpenDecoder(dir.path(), model, "");
  if (tapped) tapped->Rebind(*decoder);
  link.Rebind(tapped ? static_cast<PortIo&>(*tapped) : *decoder, decoder->clock());
  session.loaderDir = decoder->directory();
}

TransactionTap& SimRig::tap() {
  if (!tapped) throw std::logic_error("the rig was made without a tap");
  return *tapped;
}

std::vector<uint8_t> SimRig::ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void SimRig::WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
}

}  // namespace corvane::testing
