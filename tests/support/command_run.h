#pragma once

#include <string>

namespace modrin::testing {

struct CommandRun {
  int status = -1;  // the exit status; -1 when the command did not exit normally
  std::string out;  // what it wrote to standard output
};

// Runs a shell command line and captures its standard output.
CommandRun RunCommand(const std::string& command);

// `text` in single quotes for the shell (text with a single quote is not supported).
std::string ShellQuoted(const std::string& text);

}  // namespace modrin::testing
