// corvane-cli: the window's commands from a shell.
#include <unistd.h>

#include <clocale>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cli/TerminalHost.h"

int main(int argc, char** argv) {
  // The firmware log's date and time follow the user's locale.
  std::setlocale(LC_ALL, "");
  // A reader that goes away (| head) must not kill a write half way: the failed write to
  // standard output stops the command through its normal closing instead.
  std::signal(SIGPIPE, SIG_IGN);
  const std::vector<std::string> args(argv + 1, argv + argc);
  corvane::cli::InterruptGuard interrupt;
  corvane::cli::Terminal terminal;
  terminal.in = &std::cin;
  terminal.stdinIsTty = ::isatty(STDIN_FILENO) == 1;
  terminal.stderrIsTty = ::isatty(STDERR_FILENO) == 1;
  return corvane::cli::RunCli(args, std::cout, std::cerr, terminal);
}
