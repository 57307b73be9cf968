#include "flash/Signature.h"

#include "flash/FlashEngine.h"
#include "flash/FlashModels.h"
#include "link/Text.h"
#include "target/Connection.h"

namespace corvane {

namespace {

std::string Unknown(uint32_t word) { return "Unknown " + Hex8(word); }

std::string DeviceName(std::span<const ChipName> names, uint32_t device) {
  const ChipName* chip = MatchChip(names, device);
  return chip ? chip->name : Unknown(device);
}

}  // namespace

std::string SignatureMessage(Model model, uint32_t manufacturer, uint32_t device) {
  const SignatureRead& sig = FlashModelOf(model).signature;
  std::string maker, chip;
  if (sig.available && manufacturer == sig.amd) {
    maker = "AMD";
    chip = DeviceName(sig.amdDevices, device);
  } else if (sig.available && manufacturer == sig.sgsThomson) {
    maker = "SGS-THOMSON";
    chip = DeviceName(sig.sgsDevices, device);
  } else {
    maker = Unknown(manufacturer);
    chip = Unknown(device);
  }
  return "Manufacturer: " + maker + "\n" + "Device: " + chip;
}

void ReadSignature(Session& s) {
  const FlashModel& f = FlashModelOf(s.model());
  const SignatureRead& sig = f.signature;
  if (!sig.available) {
    // Its flash is never commanded over the link; the window disables the item.
    s.host.MessageBox(MessageKind::Error,
                      std::string("Read Signature is not available for ") +
                          s.profile.profile().caption + ".",
                      Buttons::Ok);
    return;
  }
  RunCommand(s, [&] {
    if (!Connect(s)) return;
    StatusGuard status(s.host);
    ConnectionGuard connection(s);
    if (f.leadingReset) {
      WriteFlash(s, sig.commandAddress, f.reset);
      s.clock().SleepMilliseconds(sig.leadingResetSleepMs);
    }
    WriteFlash(s, sig.commandAddress, f.unlock1);
    WriteFlash(s, sig.unlockAddress, f.unlock2);
    WriteFlash(s, sig.commandAddress, f.autoselect);
    const uint32_t manufacturer = ReadFlash(s, sig.manufacturerAddress);
    const uint32_t device = ReadFlash(s, sig.deviceAddress);
    ResetFlash(s);
    s.host.MessageBox(MessageKind::Information,
                      SignatureMessage(s.model(), manufacturer, device), Buttons::Ok);
  });
}

}  // namespace corvane
