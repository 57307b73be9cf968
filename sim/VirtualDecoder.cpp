#include "sim/VirtualDecoder.h"

#include <filesystem>

#include "sim/DecoderImpl.h"
#include "sim/FlashBoard.h"

namespace corvane::sim {

bool DecoderImpl::Build(std::string* error) {
  std::string why;
  board_ = MakeFlashBoard(model_.caption, files_.conf, files_.flash, clock_, &why);
  if (!board_) {
    *error = files_.directory + "/decoder.conf: " + why;
    return false;
  }
  const DecoderSettings& s = files_.settings;
  if (s.eepromPresent) {
    eeprom_ = std::make_unique<Eeprom24>(
        files_.eeprom, clock_, s.eepromBusyMs * 1000,
        EepromFaults{s.eepromWriteProtect, s.eepromNeverReady == 1, s.eepromAcks});
  }
  decoder_ = std::make_unique<Decoder>(Decoder::Parts{
      &model_, flash_.base, flash_.size, flash_.mirrorBase, flash_.mirrorSize, board_.get(),
      &files_.flash, &files_.data, eeprom_.get(), &clock_});
  if (!files_.ram.empty()) {
    if (!decoder_->ram().Load(files_.ram, &why)) {
      *error = files_.directory + "/ram.bin: " + why;
      return false;
    }
    files_.ram.clear();
    files_.ram.shrink_to_fit();
  }
  link_ = std::make_unique<BootLink>(*decoder_, stats_);
  VirtualPort::Timing t;
  t.accessUs = s.portAccessUs;
  t.byteUs = s.linkByteUs;
  t.loaderUs = s.loaderSeconds * 1000000;
  t.deadAfterBytes = static_cast<uint64_t>(s.deadAfterBytes);
  t.flipEvery = static_cast<uint64_t>(s.flipBitsEvery);
  t.unplugged = !s.cablePlugged;
  t.unplugAfterBytes = static_cast<uint64_t>(s.unplugAfterBytes);
  t.bidirectional = s.bidirectional;
  port_ = std::make_unique<VirtualPort>(clock_, *link_, *decoder_, stats_, t);
  if (!LoadState(error)) return false;
  savedFlash_ = files_.flash;
  savedData_ = files_.data;
  savedEeprom_ = files_.eeprom;
  return true;
}

bool DecoderImpl::SaveImage(const char* name, const std::vector<uint8_t>& now,
                            std::vector<uint8_t>& saved, std::string* error) {
  if (now == saved) return true;
  if (!WriteFileAtomically(files_.directory + "/" + name, now, error, true, &files_.stamps[name])) {
    return false;
  }
  saved = now;
  return true;
}

bool DecoderImpl::Save(std::string* error) {
  port_->LetLoaderFinish();
  std::string scratch;
  if (!error) error = &scratch;
  bool ok = SaveImage("flash.bin", files_.flash, savedFlash_, error);
  if (ok) ok = SaveState(error);
  if (ok && model_.dataSize != 0) ok = SaveImage("data.bin", files_.data, savedData_, error);
  if (ok) ok = SaveImage("eeprom.bin", files_.eeprom, savedEeprom_, error);
  SparseRam& ram = decoder_->ram();
  if (ok && ram.dirty()) {
    const std::string path = files_.directory + "/ram.bin";
    const std::vector<uint8_t> bytes = ram.Serialize();
    if (bytes.empty()) {
      std::error_code ec;
      std::filesystem::remove(path, ec);
      files_.stamps["ram.bin"] = StampOf(path);
    } else {
      ok = WriteFileAtomically(path, bytes, error, true, &files_.stamps["ram.bin"]);
    }
    if (ok) ram.MarkSaved();
  }
  return ok;
}

bool DecoderImpl::ChangedOnDisk() const {
  for (const auto& [name, stamp] : files_.stamps) {
    if (StampOf(files_.directory + "/" + name) != stamp) return true;
  }
  return false;
}

bool DecoderImpl::SetBusTrace(const std::string& path, std::string* error) {
  auto trace = std::make_unique<VcdWriter>();
  std::string why;
  if (!trace->Open(path, &why)) {
    if (error) *error = why;
    return false;
  }
  decoder_->SetTrace(nullptr);
  trace_ = std::move(trace);
  decoder_->SetTrace(trace_.get());
  return true;
}

// --- the public face ------------------------------------------------------------------------

std::unique_ptr<VirtualDecoder> VirtualDecoder::Open(const std::string& dir,
                                                     const std::string& caption,
                                                     std::string* error) {
  std::string scratch;
  if (!error) error = &scratch;
  const DecoderModel* model = DecoderModelFor(caption);
  const FlashBoardGeometry* flash = model ? FlashBoardFor(model->caption) : nullptr;
  if (!model || !flash) {
    *error = "there is no virtual decoder of the model \"" + caption + "\"";
    return nullptr;
  }
  DecoderFiles files;
  if (!OpenDecoderDir(dir, *model, flash->size, &files, error)) return nullptr;
  auto impl = std::make_unique<DecoderImpl>(*model, *flash, std::move(files));
  if (!impl->Build(error)) return nullptr;
  return std::unique_ptr<VirtualDecoder>(new VirtualDecoder(std::move(impl)));
}

VirtualDecoder::VirtualDecoder(std::unique_ptr<DecoderImpl> impl) : impl_(std::move(impl)) {}
VirtualDecoder::~VirtualDecoder() = default;

uint8_t VirtualDecoder::PortIn(uint16_t port) { return impl_->port().In(port); }
void VirtualDecoder::PortOut(uint16_t port, uint8_t value) { impl_->port().Out(port, value); }

std::optional<bool> VirtualDecoder::ReadsData(std::string* why) {
  if (impl_->files().settings.bidirectional) return true;
  if (why) *why = "its data lines cannot be turned to input (bidirectional = 0 in decoder.conf)";
  return false;
}

corvane::Clock& VirtualDecoder::clock() { return impl_->clock(); }

const Stats& VirtualDecoder::stats() const {
  Stats& s = impl_->stats();
  s.virtualTimeUs = impl_->clock().now() - impl_->statsStart;
  return s;
}

void VirtualDecoder::ResetStats() {
  impl_->stats() = Stats{};
  impl_->statsStart = impl_->clock().now();
}

bool VirtualDecoder::Save(std::string* error) { return impl_->Save(error); }

bool VirtualDecoder::ChangedOnDisk() const { return impl_->ChangedOnDisk(); }

const std::string& VirtualDecoder::directory() const { return impl_->files().directory; }

bool VirtualDecoder::SetBusTrace(const std::string& path, std::string* error) {
  return impl_->SetBusTrace(path, error);
}

bool VirtualDecoder::PortReleased() const { return impl_->port().Released(); }

uint32_t VirtualDecoder::InspectWord(uint32_t address) {
  impl_->port().Catch();
  return impl_->decoder().Inspect(address);
}

}  // namespace corvane::sim
