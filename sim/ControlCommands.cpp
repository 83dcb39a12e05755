#include "sim/ControlCommands.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace varnel::sim {
namespace {

constexpr const char* kHelp =
    "Commands (one per line on standard input; the same words work as options, see above):\n"
    "  card none | card 0           no card in the field\n"
    "  card STATUS NUMBER           a card that stays: e.g. card 1 305 (status byte, 32-bit number)\n"
    "  card cycle NUMBER ON OFF     card NUMBER present for ON ms, absent for OFF ms, repeating\n"
    "  silent on|off                answer nothing (requests are still carried out)\n"
    "  drop N|off                   drop every Nth reply\n"
    "  corrupt N|all|off            spoil the CRC of every Nth reply (all: every reply)\n"
    "  noise N|off                  send N noise bytes (never AA or BB) before each reply\n"
    "  split on|off                 write replies one byte per write\n"
    "  preamble aa|bb               start replies with AA AA AA AA or BB BB BB BB\n"
    "  delay MS                     hold each reply back MS milliseconds\n"
    "  duplicate CODE|off           send the next reply with command byte CODE twice (once)\n"
    "  unrequested CODE AFTER|off   after the next reply with command byte AFTER, send a\n"
    "                               status reply CODE (status 0) that nothing asked for (once)\n"
    "  pace BAUD|off                take the time a serial line at BAUD takes, both ways\n"
    "  status N|auto                answer settings, control and registration writes with\n"
    "                               status N (0..255) and change nothing; auto: the real answer\n"
    "  ota-status N|auto            report status N for firmware-transfer steps (still carried out)\n"
    "  restart                      restart now: saved configuration, silent for a while\n"
    "  restart-silence MS           how long a restart stays silent (default 2000)\n"
    "  image-out PATH|off           write each firmware image that passes its check to PATH\n"
    "  firmware A.B.C               firmware version reported by 0x01\n"
    "  hardware A.B.C               hardware version reported by 0x02\n"
    "  sn YEAR MONTH [TEXT]         serial number reported by 0x03 (year two digits)\n"
    "  set KEY VALUE                set a running value without checks; KEY is addr, baud,\n"
    "                               canid, frame, rate or mode\n"
    "  stats                        print request and fault counters as one line\n"
    "  state                        print the sensor's state as one line\n"
    "  unplug                       close the pseudo-terminal and remove its link\n"
    "  replug                       open a new pseudo-terminal under the same link name\n"
    "  quit                         remove the link and exit\n"
    "  help                         print this list\n"
    "Each command that changes something answers \"ok <command>\" on standard output;\n"
    "a command that is not understood answers one line on standard error and changes nothing.\n";

std::vector<std::string_view> Split(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

// Decimal, or hexadecimal after 0x; the whole word, within [0, max].
std::optional<std::uint64_t> Number(std::string_view word, std::uint64_t max) {
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    word.remove_prefix(2);
    base = 16;
  }
  std::uint64_t value = 0;
  const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value, base);
  if (ec != std::errc() || end != word.data() + word.size() || word.empty() || value > max) return std::nullopt;
  return value;
}

std::optional<bool> OnOff(std::string_view word) {
  if (word == "on") return true;
  if (word == "off") return false;
  return std::nullopt;
}

std::optional<Version> ParseVersion(std::string_view word, std::uint8_t lead) {
  Version v{lead, 0, 0, 0};
  std::uint8_t* parts[3] = {&v.major, &v.minor, &v.patch};
  for (int i = 0; i < 3; ++i) {
    const std::size_t dot = i < 2 ? word.find('.') : word.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const auto n = Number(word.substr(0, dot), 255);
    if (!n) return std::nullopt;
    *parts[i] = static_cast<std::uint8_t>(*n);
    word = dot < word.size() ? word.substr(dot + 1) : std::string_view{};
  }
  return v;
}

struct Runner {
  SimSensor& sim;
  std::string_view line;
  std::vector<std::string_view> w;
  CommandResult result;

  CommandResult Fail(const std::string& why) {
    result.ok = false;
    result.output.clear();
    result.action = ToolAction::None;
    result.error = "error: " + std::string(w.empty() ? std::string_view{} : w[0]) + ": " + why;
    return result;
  }
  CommandResult Done() {
    if (result.output.empty()) result.output = "ok " + std::string(line);
    return result;
  }
  bool Args(std::size_t n) const { return w.size() == n + 1; }

  // "N|off" where off and 0 mean 0.
  std::optional<std::uint64_t> CountOrOff(std::string_view word, std::uint64_t max) {
    if (word == "off") return 0;
    return Number(word, max);
  }

  CommandResult Run() {
    const std::string_view cmd = w[0];
    FaultSettings& f = sim.shaper().settings();
    SensorModel& m = sim.model();

    if (cmd == "help") {
      result.output = kHelp;
      if (!result.output.empty() && result.output.back() == '\n') result.output.pop_back();
      return result;
    }
    if (cmd == "card") return Card();
    if (cmd == "silent" || cmd == "split") {
      if (!Args(1)) return Fail("expected on or off");
      const auto on = OnOff(w[1]);
      if (!on) return Fail("expected on or off, got '" + std::string(w[1]) + "'");
      (cmd == "silent" ? f.silent : f.split) = *on;
      return Done();
    }
    if (cmd == "drop" || cmd == "noise") {
      const std::uint64_t max = cmd == "noise" ? 4096 : std::numeric_limits<std::uint32_t>::max();
      const auto n = Args(1) ? CountOrOff(w[1], max) : std::nullopt;
      if (!n) return Fail("expected a count from 0 to " + std::to_string(max) + " or off");
      (cmd == "drop" ? f.dropEvery : f.noiseBytes) = static_cast<std::uint32_t>(*n);
      return Done();
    }
    if (cmd == "corrupt") {
      std::optional<std::uint64_t> n;
      if (Args(1)) n = w[1] == "all" ? std::optional<std::uint64_t>(1) : CountOrOff(w[1], 0xFFFFFFFFu);
      if (!n) return Fail("expected a count, all or off");
      f.corruptEvery = static_cast<std::uint32_t>(*n);
      return Done();
    }
    if (cmd == "preamble") {
      if (!Args(1) || (w[1] != "aa" && w[1] != "bb" && w[1] != "AA" && w[1] != "BB")) {
        return Fail("expected aa or bb");
      }
      f.preambleAA = w[1] == "aa" || w[1] == "AA";
      return Done();
    }
    if (cmd == "delay" || cmd == "restart-silence") {
      const auto ms = Args(1) ? Number(w[1], 3'600'000) : std::nullopt;
      if (!ms) return Fail("expected milliseconds from 0 to 3600000");
      if (cmd == "delay") f.delay = std::chrono::milliseconds(*ms);
      else m.SetRestartSilence(std::chrono::milliseconds(*ms));
      return Done();
    }
    if (cmd == "duplicate") {
      const auto code = Args(1) ? CountOrOff(w[1], 255) : std::nullopt;
      if (!code) return Fail("expected a command byte such as 0xF2, or off");
      f.duplicateCode = static_cast<std::uint8_t>(*code);
      return Done();
    }
    if (cmd == "unrequested") {
      if (Args(1) && w[1] == "off") {
        f.unrequestedCode = f.unrequestedAfter = 0;
        return Done();
      }
      const auto code = Args(2) ? Number(w[1], 255) : std::nullopt;
      const auto after = Args(2) ? Number(w[2], 255) : std::nullopt;
      if (!code || !after || *code == 0 || *after == 0)
        return Fail("expected two command bytes such as 0xF3 0xF2, or off");
      f.unrequestedCode = static_cast<std::uint8_t>(*code);
      f.unrequestedAfter = static_cast<std::uint8_t>(*after);
      return Done();
    }
    if (cmd == "pace") {
      const auto baud = Args(1) ? CountOrOff(w[1], 100'000'000) : std::nullopt;
      if (!baud) return Fail("expected a baud rate or off");
      f.paceBaud = static_cast<std::uint32_t>(*baud);
      return Done();
    }
    if (cmd == "status" || cmd == "ota-status") {
      std::optional<std::uint8_t> status;
      if (!Args(1)) return Fail("expected a status from 0 to 255 or auto");
      if (w[1] != "auto") {
        const auto n = Number(w[1], 255);
        if (!n) return Fail("expected a status from 0 to 255 or auto, got '" + std::string(w[1]) + "'");
        status = static_cast<std::uint8_t>(*n);
      }
      if (cmd == "status") m.SetForcedWriteStatus(status);
      else m.SetForcedOtaStatus(status);
      return Done();
    }
    if (cmd == "restart") {
      if (!Args(0)) return Fail("takes no arguments");
      m.Restart();
      return Done();
    }
    if (cmd == "image-out") {
      const std::string_view path = Trim(Trim(line).substr(cmd.size()));
      if (path.empty()) return Fail("expected a path or off");
      if (!sim.SetImageOut(path == "off" ? std::string() : std::string(path))) {
        return Fail("the image already received could not be written to " + std::string(path));
      }
      return Done();
    }
    if (cmd == "firmware" || cmd == "hardware") {
      Version& target = cmd == "firmware" ? m.identity().firmware : m.identity().hardware;
      const auto v = Args(1) ? ParseVersion(w[1], target.lead) : std::nullopt;
      if (!v) return Fail("expected a version such as 1.0.12 (each part 0..255)");
      target = *v;
      return Done();
    }
    if (cmd == "sn") return Serial();
    if (cmd == "set") return Set();
    if (cmd == "stats" || cmd == "state") {
      if (!Args(0)) return Fail("takes no arguments");
      result.output = cmd == "stats" ? sim.StatsLine() : sim.StateLine();
      return result;
    }
    if (cmd == "unplug" || cmd == "replug" || cmd == "quit") {
      if (!Args(0)) return Fail("takes no arguments");
      result.action = cmd == "unplug" ? ToolAction::Unplug
                      : cmd == "replug" ? ToolAction::Replug
                                        : ToolAction::Quit;
      return Done();
    }
    result.ok = false;
    result.error = "error: unknown command '" + std::string(cmd) + "' (try 'help')";
    return result;
  }

  CommandResult Card() {
    SensorModel& m = sim.model();
    if (Args(1) && (w[1] == "none" || w[1] == "0")) {
      m.SetCard(CardScript::None());
      return Done();
    }
    if (w.size() >= 2 && w[1] == "cycle") {
      if (!Args(4)) return Fail("expected card cycle NUMBER ON_MS OFF_MS");
      const auto number = Number(w[2], 0xFFFFFFFFu);
      const auto on = Number(w[3], 3'600'000);
      const auto off = Number(w[4], 3'600'000);
      if (!number || !on || !off) return Fail("expected card cycle NUMBER ON_MS OFF_MS");
      if (*on + *off == 0) return Fail("the cycle needs a length: ON_MS + OFF_MS above 0");
      m.SetCard(CardScript::Cycle(static_cast<std::uint32_t>(*number), std::chrono::milliseconds(*on),
                                  std::chrono::milliseconds(*off), m.Now()));
      return Done();
    }
    if (Args(2)) {
      const auto status = Number(w[1], 255);
      const auto number = Number(w[2], 0xFFFFFFFFu);
      if (!status || !number) return Fail("expected card STATUS NUMBER (status 0..255, a 32-bit number)");
      m.SetCard(CardScript::Fixed(static_cast<std::uint8_t>(*status), static_cast<std::uint32_t>(*number)));
      return Done();
    }
    return Fail("expected card none, card STATUS NUMBER or card cycle NUMBER ON_MS OFF_MS");
  }

  CommandResult Serial() {
    if (w.size() < 3) return Fail("expected sn YEAR MONTH [TEXT]");
    const auto year = Number(w[1], 255);
    const auto month = Number(w[2], 255);
    if (!year || !month) return Fail("expected sn YEAR MONTH [TEXT] with numbers from 0 to 255");
    std::string text;
    if (w.size() > 3) {
      // The text is the rest of the line, from its first word on.
      text = std::string(Trim(line.substr(static_cast<std::size_t>(w[3].data() - line.data()))));
    }
    if (text.size() > kMaxSerialText) return Fail("the text holds at most 32 bytes");
    sim.model().identity().serial =
        SerialNumber{static_cast<std::uint8_t>(*year), static_cast<std::uint8_t>(*month), text};
    return Done();
  }

  CommandResult Set() {
    if (!Args(2)) return Fail("expected set KEY VALUE");
    SensorConfig& c = sim.model().running();
    const std::string_view key = w[1];
    if (key == "canid") {
      const auto v = Number(w[2], 0xFFFFFFFFu);
      if (!v) return Fail("expected a 32-bit value");
      c.canId = static_cast<std::uint32_t>(*v);
      return Done();
    }
    std::uint8_t* target = key == "addr"    ? &c.nodeAddress
                           : key == "baud"  ? &c.baudCode
                           : key == "frame" ? &c.frameType
                           : key == "rate"  ? &c.canRateCode
                           : key == "mode"  ? &c.outputMode
                                            : nullptr;
    if (!target) return Fail("unknown key '" + std::string(key) + "' (addr, baud, canid, frame, rate, mode)");
    const auto v = Number(w[2], 255);
    if (!v) return Fail("expected a value from 0 to 255");
    *target = static_cast<std::uint8_t>(*v);
    return Done();
  }
};

}  // namespace

CommandResult RunCommand(SimSensor& sim, std::string_view line) {
  line = Trim(line);
  Runner runner{sim, line, Split(line), {}};
  if (runner.w.empty() || line.front() == '#') {
    runner.result.output.clear();
    return runner.result;
  }
  return runner.Run();
}

const char* CommandHelp() { return kHelp; }

}  // namespace varnel::sim
