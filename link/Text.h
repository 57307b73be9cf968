#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace corvane {

// Upper-case hexadecimal, zero-padded to at least `digits`.
std::string Hex(uint32_t value, int digits);
inline std::string Hex8(uint32_t value) { return Hex(value, 8); }
inline std::string Hex4(uint32_t value) { return Hex(value, 4); }

// A Poke/Peek field: one or more hexadecimal digits of either case and nothing else,
// at most `maxDigits` of them. The low 32 bits of the number are used.
std::optional<uint32_t> ParseHexField(std::string_view text, size_t maxDigits = 8);

// A word as a POSIX shell reads it back: as it stands when it holds nothing the shell would
// take apart, else in single quotes.
std::string ShellQuoted(std::string_view word);

// ASCII letters compared without regard to case: model captions, ramdump and part names.
bool EqualsNoCase(std::string_view a, std::string_view b);

// "2 MB", "512 KB", "100 bytes": a size as people say it, never rounded.
std::string SizeText(uint64_t bytes);

}  // namespace corvane
