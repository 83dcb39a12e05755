#pragma once
// The line-based control interface of the simulated sensor: a person at a
// terminal or a test steers the sensor with lines such as "card 1 305",
// "silent on" or "restart". The same lines configure it at start.
#include <string>
#include <string_view>

#include "sim/SimSensor.h"

namespace varnel::sim {

enum class ToolAction { None, Quit, Unplug, Replug };

struct CommandResult {
  bool ok = true;
  std::string output;  // for standard output: "ok <command>" or the answer of a query, one line
  std::string error;   // for standard error, one line; nothing was changed
  ToolAction action = ToolAction::None;  // what the serving program does next
};

// Runs one line. Blank lines and lines starting with '#' do nothing.
CommandResult RunCommand(SimSensor& sim, std::string_view line);

// The commands section of --help; names every command.
const char* CommandHelp();

}  // namespace varnel::sim
