#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "target/Files.h"
#include "target/Session.h"

// Reading the input file of a write: checked before the decoder is touched, then word by word.
namespace corvane {

// Opens an input file and checks that it holds at least `needed` bytes, and with
// confirmLonger that the user wants only the first `needed` of a longer one. On failure
// shows one error naming what was expected and what was found, and returns false.
bool OpenInput(Session& session, ImageReader& image, const std::string& path, uint64_t needed,
               const std::string& what, bool confirmLonger = true);

// Words of [first, first + words) that are not erased (0xFFFFFFFF): what a write programs.
// Leaves the image at its start.
uint32_t CountProgrammedWords(ImageReader& image, uint32_t first, uint32_t words);

// The next four bytes of an image that was checked to be long enough; a read that still
// comes up short (the file changed under us, a disk error) stops the command.
void ReadWord(ImageReader& image, uint8_t* bytes, uint64_t offset);
void SkipBytes(ImageReader& image, uint64_t to);
// The first `words` words of a checked image, as the flash is to hold them (to compare with
// what reads return); the image is left at its start.
std::vector<uint32_t> ImageWords(ImageReader& image, uint32_t words);

}  // namespace corvane
