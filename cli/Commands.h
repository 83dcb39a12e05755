#pragma once
// The commands of varnel-cli, one function each. They print results on out,
// messages on err, and answer the exit code. Arguments are already parsed.
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "cli/ExitCodes.h"
#include "cli/SensorPort.h"
#include "link/TrafficDump.h"

namespace varnel::cli {

struct CommandContext {
  std::vector<std::string> ports;
  bool json = false;
  RequestPolicy policy;
  TrafficLog* dump = nullptr;  // --dump: the traffic dump; none without
  std::FILE* out = stdout;
  std::FILE* err = stderr;
  // Whether the operator asked the tool to stop (Ctrl+C); polled.
  std::function<bool()> stopRequested = [] { return false; };
};

enum class ControlAction { Restart, Save, FactoryReset };

ExitCode RunPorts(const CommandContext& ctx, const std::string& publishedPortsDir);
ExitCode RunInfo(const CommandContext& ctx);
ExitCode RunSet(const CommandContext& ctx, const std::string& setting, const std::string& value,
                const std::string& frame);
ExitCode RunControl(const CommandContext& ctx, ControlAction action, bool confirmed);
// count readings, or until stopped with watch.
ExitCode RunCard(const CommandContext& ctx, int count, bool watch);
ExitCode RunFirmware(const CommandContext& ctx, const std::string& imagePath);
// ledgerPath: empty for "Tallis.ini" in the current directory.
ExitCode RunRegister(const CommandContext& ctx, const std::string& text, const std::string& ledgerPath);

// --- shared by the command units ---
// Reports on err, prefixed "varnel-cli: ".
void Complain(const CommandContext& ctx, const std::string& text);
// Exactly one --port, or a complaint.
bool SinglePort(const CommandContext& ctx, std::string& port);
// Prints one JSON document (already dumped) or text line on out.
void PrintLine(const CommandContext& ctx, const std::string& line);
// The operator's words for a status byte, or "status N".
std::string StatusText(std::uint32_t status);

}  // namespace varnel::cli
