#pragma once
// Command-line options of varnel-sensor-sim. Every fault and script option is
// a control command run at start, so options and commands never disagree.
#include <string>
#include <vector>

namespace varnel::sim {

struct ToolOptions {
  std::string name = "varnel-sim";     // link name in <runtime>/varnel/ports
  bool verbose = false;                // frame trace on standard error
  bool stdinCommands = true;
  bool quitOnEof = false;
  bool exitWithParent = false;
  bool help = false;
  std::vector<std::string> startCommands;  // control commands, in order
};

// Answers false with a one-line reason in *problem.
bool ParseOptions(int argc, char** argv, ToolOptions* options, std::string* problem);

// The whole --help text: usage, options and commands.
std::string HelpText();

}  // namespace varnel::sim
