// varnel-cli: the sensor's service commands for scripts and production lines.
// Arguments are read here; each command is one function in Commands*.cpp.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/Commands.h"
#include "cli/ExitCodes.h"
#include "link/TrafficWriter.h"
#include "platform/StopSignals.h"
#include "ui/rules/PortListing.h"
#include "varnel/Version.h"

#ifdef _WIN32
#include "platform/Win32.h"
#endif

using namespace varnel::cli;

int main(int argc, char** argv) {
#ifdef _WIN32
  // Results and messages are UTF-8 text; the console shows them as such.
  SetConsoleOutputCP(CP_UTF8);
#endif
  varnel::IgnoreWriteSignals();

  CommandContext ctx;
  bool dump = false;
  int timeoutMs = 1000;

  CLI::App app{"varnel-cli: read, configure, update and register RFID card sensors on serial ports."};
  app.footer(ExitCodeTable());
  app.set_version_flag("--version", "varnel-cli " VARNEL_VERSION);
  app.require_subcommand(1);
  app.fallthrough();
  // One value per --port, so a port never swallows the words after it.
  app.add_option("--port", ctx.ports, "serial port (COM3, /dev/ttyUSB0); firmware takes several")
      ->allow_extra_args(false);
  app.add_flag("--json", ctx.json, "machine-readable output: one JSON document per result");
  app.add_flag("--dump", dump, "write the traffic dump to standard error");
  app.add_option("--timeout", timeoutMs, "milliseconds a request waits for its reply (default 1000)")
      ->check(CLI::Range(10, 600000));
  app.add_option("--retries", ctx.policy.readRetries, "times an unanswered read is asked again (default 2)")
      ->check(CLI::Range(0, 20));

  auto* ports = app.add_subcommand("ports", "list the serial ports, as the connect dialog does");
  auto* info = app.add_subcommand("info", "firmware, hardware, S/N and settings of the sensor");

  std::string setting, value, frame = "std";
  auto* set = app.add_subcommand("set", "change one setting: address 0x21 | baud 9600 | canid 0x5A0 [--frame "
                                        "std|ext] | canrate 500K | output passive|trigger");
  set->add_option("setting", setting, "address, baud, canid, canrate or output")->required();
  set->add_option("value", value, "the new value")->required();
  set->add_option("--frame", frame, "CAN frame type for canid: std (default) or ext");

  bool yes = false;
  auto* restart = app.add_subcommand("restart", "restart the sensor (needs --yes)");
  auto* save = app.add_subcommand("save", "save the sensor's configuration (needs --yes)");
  auto* reset = app.add_subcommand("factory-reset", "restore factory settings (needs --yes)");
  for (auto* control : {restart, save, reset}) control->add_flag("--yes", yes, "confirm");

  int count = 1;
  bool watch = false;
  auto* card = app.add_subcommand("card", "card readings at 100 ms");
  auto* countOption = card->add_option("--count", count, "readings to print (default 1)")->check(CLI::PositiveNumber);
  card->add_flag("--watch", watch, "print readings until stopped")->excludes(countOption);

  std::string image;
  auto* firmware = app.add_subcommand("firmware", "send a firmware image to one or more sensors side by side");
  firmware->add_option("image", image, "the image file (its name holds Rfid and .bin)")->required();

  std::string text, ledger;
  auto* registration = app.add_subcommand("register", "register a production serial number");
  registration->add_option("--text", text, "the individual part of the number, after the date")->required();
  registration->add_option("--ledger", ledger, "the ledger file (default Tallis.ini in the current folder)");

  try {
    app.parse(argc, argv);
  } catch (const CLI::Success& e) {  // --help, --help-all, --version
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    app.exit(e);
    return ToInt(ExitCode::BadInput);
  }
  ctx.policy.timeout = std::chrono::milliseconds(timeoutMs);

  std::unique_ptr<varnel::TrafficWriter> traffic;
  if (dump) {
    traffic = std::make_unique<varnel::TrafficWriter>(2, stderr);
    ctx.dump = traffic.get();
  }
  varnel::StopSignals stopSignals;
  ctx.stopRequested = [&stopSignals] { return stopSignals.Take() != 0; };

  ExitCode code = ExitCode::Failed;
  if (*ports) code = RunPorts(ctx, varnel::PublishedPortsDirectory());
  else if (*info) code = RunInfo(ctx);
  else if (*set) code = RunSet(ctx, setting, value, frame);
  else if (*restart) code = RunControl(ctx, ControlAction::Restart, yes);
  else if (*save) code = RunControl(ctx, ControlAction::Save, yes);
  else if (*reset) code = RunControl(ctx, ControlAction::FactoryReset, yes);
  else if (*card) code = RunCard(ctx, count, watch);
  else if (*firmware) code = RunFirmware(ctx, image);
  else if (*registration) code = RunRegister(ctx, text, ledger);
  if (traffic) traffic->Close(varnel::TrafficWriter::kCloseBound);
  return ToInt(code);
}
