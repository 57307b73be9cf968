#pragma once
#include <cstdint>
#include <iosfwd>
#include <string>
#include <variant>
#include <vector>

#include "target/Session.h"

// Poke, peek and script: single words by hand, from the shell.
namespace corvane {

// One script line: poke, peek or sleep.
struct ScriptStep {
  enum Kind { Poke, Peek, Sleep } kind;
  uint32_t address = 0;
  uint32_t value = 0;  // poke: the word; sleep: milliseconds
  int line = 0;
};
using ParsedScript = std::variant<std::vector<ScriptStep>, std::string>;

// The whole script, or "line N: reason" for the first bad line.
ParsedScript ParseScript(const std::string& text);

// Runs the steps. Like the Poke/Peek dialog they neither reset the decoder nor set up its
// memory interface, unless connect asks for a command's whole opening and closing. Each
// peek prints its value to out (a script's with its address).
void RunWords(Session& session, const std::vector<ScriptStep>& steps, bool connect,
              bool script, std::ostream& out);

}  // namespace corvane
