#include "sim/tool/Options.h"

#include <algorithm>
#include <cstring>

#include "sim/ControlCommands.h"

namespace varnel::sim {
namespace {

struct CommandOption {
  const char* option;   // without the leading dashes
  const char* command;  // the control command it runs
  bool takesValue;
};

// Options that stand for a control command; a value is appended to the command.
constexpr CommandOption kCommandOptions[] = {
    {"silent", "silent on", false},
    {"split", "split on", false},
    {"drop", "drop", true},
    {"corrupt", "corrupt", true},
    {"noise", "noise", true},
    {"preamble", "preamble", true},
    {"delay", "delay", true},
    {"pace", "pace", true},
    {"status", "status", true},
    {"ota-status", "ota-status", true},
    {"card", "card", true},
    {"restart-silence", "restart-silence", true},
    {"image-out", "image-out", true},
    {"firmware", "firmware", true},
    {"hardware", "hardware", true},
    {"sn", "sn", true},
};

constexpr const char* kUsage =
    "Usage: varnel-sensor-sim [OPTION]...\n"
    "A simulated card sensor served on a pseudo-terminal. The pseudo-terminal is\n"
    "published as a symbolic link in <runtime dir>/varnel/ports, where the runtime\n"
    "dir is $XDG_RUNTIME_DIR, or <$TMPDIR or /tmp>/runtime-<user> when that is unset\n"
    "or unusable. At start two lines go to standard output:\n"
    "  pty /dev/pts/N\n"
    "  link <runtime dir>/varnel/ports/NAME\n"
    "The link is removed at exit, also on SIGINT, SIGTERM and SIGHUP.\n"
    "\n"
    "Options:\n"
    "  --name NAME               link name (default varnel-sim)\n"
    "  --verbose, -v             trace every frame in and out on standard error\n"
    "  --stdin-commands          read control commands from standard input (default)\n"
    "  --no-stdin-commands       leave standard input alone\n"
    "  --quit-on-eof             exit when standard input ends (default: keep serving)\n"
    "  --exit-with-parent        exit when the process that started the simulator ends\n"
    "  --command LINE, -c LINE   run a control command at start (may be repeated)\n"
    "  --help, -h                print this text and exit\n"
    "Options that run the control command of the same name at start (a value may\n"
    "also be given as --option=VALUE; commas in --card are read as spaces):\n"
    "  --silent                  silent on\n"
    "  --split                   split on\n"
    "  --drop N                  drop N\n"
    "  --corrupt N|all           corrupt N\n"
    "  --noise N                 noise N\n"
    "  --preamble aa|bb          preamble aa\n"
    "  --delay MS                delay MS\n"
    "  --pace BAUD               pace BAUD (115200 for a real line's timing)\n"
    "  --status N|auto           status N\n"
    "  --ota-status N|auto       ota-status N\n"
    "  --card ARGS               card ARGS, e.g. --card \"1 305\", --card cycle,305,500,500\n"
    "  --restart-silence MS      restart-silence MS\n"
    "  --image-out PATH          image-out PATH\n"
    "  --firmware A.B.C          firmware A.B.C\n"
    "  --hardware A.B.C          hardware A.B.C\n"
    "  --sn \"YEAR MONTH TEXT\"    sn YEAR MONTH TEXT\n"
    "\n";

}  // namespace

std::string HelpText() { return std::string(kUsage) + CommandHelp(); }

bool ParseOptions(int argc, char** argv, ToolOptions* options, std::string* problem) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0) {
      const std::size_t eq = arg.find('=');
      if (eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        hasValue = true;
      }
    }
    auto takeValue = [&](const std::string& opt) -> bool {
      if (hasValue) return true;
      if (i + 1 >= argc) {
        *problem = opt + " needs a value";
        return false;
      }
      value = argv[++i];
      return true;
    };
    auto noValue = [&](const std::string& opt) -> bool {
      if (!hasValue) return true;
      *problem = opt + " takes no value";
      return false;
    };

    if (arg == "--help" || arg == "-h") {
      options->help = true;
    } else if (arg == "--verbose" || arg == "-v") {
      if (!noValue(arg)) return false;
      options->verbose = true;
    } else if (arg == "--stdin-commands" || arg == "--no-stdin-commands") {
      if (!noValue(arg)) return false;
      options->stdinCommands = arg == "--stdin-commands";
    } else if (arg == "--quit-on-eof") {
      if (!noValue(arg)) return false;
      options->quitOnEof = true;
    } else if (arg == "--exit-with-parent") {
      if (!noValue(arg)) return false;
      options->exitWithParent = true;
    } else if (arg == "--name") {
      if (!takeValue(arg)) return false;
      if (value.empty() || value == "." || value == ".." || value.find('/') != std::string::npos) {
        *problem = "--name: '" + value + "' is not a file name (no '/', not empty)";
        return false;
      }
      options->name = value;
    } else if (arg == "--command" || arg == "-c") {
      if (!takeValue(arg)) return false;
      options->startCommands.push_back(value);
    } else {
      const CommandOption* match = nullptr;
      if (arg.rfind("--", 0) == 0) {
        for (const CommandOption& c : kCommandOptions) {
          if (arg.compare(2, std::string::npos, c.option) == 0) match = &c;
        }
      }
      if (!match) {
        *problem = "unknown option '" + arg + "'";
        return false;
      }
      std::string command = match->command;
      if (match->takesValue) {
        if (!takeValue(arg)) return false;
        if (std::strcmp(match->option, "card") == 0) std::replace(value.begin(), value.end(), ',', ' ');
        command += " " + value;
      } else if (!noValue(arg)) {
        return false;
      }
      options->startCommands.push_back(command);
    }
  }
  return true;
}

}  // namespace varnel::sim
