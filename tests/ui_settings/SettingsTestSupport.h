#pragma once
// Shared pieces of the card-search and settings tests: the main window over a
// recorded wire (no sensor), and the main window against the simulated sensor.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "link/LinkFrame.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/UiHarness.h"
#include "ui/ConnectDlg.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel::test {

// The main window built from a template (all of it, or with a control left
// out), its lists filled and the all-zero settings shown, sending into a
// recorder, its window on the screen (the operator clicks only what is shown).
// Nothing is started: no reader, no timers, no modal run.
struct RecordedDialog {
  explicit RecordedDialog(const DialogTemplate& dialogTemplate = MainDialogTemplate())
      : dlg(services, dialogTemplate) {
    dlg.FillSettingLists();
    dlg.ShowSettings();
    ShowWindow(dlg);
    h.boxes.Clear();
  }
  DialogControl* C(int id) const { return dlg.Control(id); }
  void Click(int id) const { test::Click(*C(id)); }

  UiHarness h;
  RecordingSender wire;
  DeviceSession session{wire, h.receiver, {}, h.op};
  AppServices services{h.link, session, h.windows, h.op, h.ledger, [] { return std::vector<std::string>{}; }};
  CVarnelDlg dlg;
};

inline DialogTemplate MainTemplateWithout(int id) {
  DialogTemplate t = MainDialogTemplate();
  t.controls.erase(std::remove_if(t.controls.begin(), t.controls.end(),
                                  [id](const ControlTemplate& c) { return c.id == id; }),
                   t.controls.end());
  return t;
}

// The main window against a simulated sensor started with these options.
struct SimDialog {
  explicit SimDialog(std::vector<std::string> options = {}) : sim(std::move(options)) {
    h.ports = {sim.LinkPath()};
  }
  DialogControl* C(int id) const { return dlg.Control(id); }
  std::string Text(int id) const { return C(id)->Text(); }
  void Click(int id) const { test::Click(*C(id)); }

  std::string StateOf(const std::string& key) { return sim.State()[key]; }

  SimProcess sim;
  UiHarness h;
  CVarnelDlg dlg{h.services};
};

// Boxes with this text (and caption, when given).
inline std::size_t BoxCount(const RecordingPresenter& boxes, const std::string& text) {
  const auto all = boxes.Boxes();
  return static_cast<std::size_t>(
      std::count_if(all.begin(), all.end(), [&](const RecordedBox& b) { return b.text == text; }));
}

inline RecordedBox LastBox(const RecordingPresenter& boxes) {
  const auto all = boxes.Boxes();
  return all.empty() ? RecordedBox{} : all.back();
}

// Steps that connect to the sensor and wait until both identity chains of the
// start-up have run (the sensor has seen two card reads), so no settings reply
// arrives behind the test's back any more.
inline UiScript& ConnectAndSettle(UiScript& script, SimDialog& f) {
  using namespace std::chrono_literals;
  return script
      .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
            [] { ActiveModal<CConnectDlg>()->OnConnect(); })
      .WaitFor("second identity query", [&f] { return f.dlg.Watch().IdentityRequeried(); }, 15s)
      .WaitFor("second chain done", [&f] { return f.sim.RequestsOf(0x30) >= 2; }, 15s);
}

// Sends a control command to the simulator and waits until it has taken it.
inline UiScript& Tell(UiScript& script, SimDialog& f, const std::string& command) {
  auto seen = std::make_shared<std::size_t>(0);
  const std::string ack = "ok " + command;
  auto acks = [&f, ack] {
    const auto lines = f.sim.Lines();
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), ack));
  };
  return script.Do([&f, seen, acks, command] {
                 *seen = acks();
                 f.sim.Command(command);
               })
      .WaitFor("simulator took: " + command, [seen, acks] { return acks() > *seen; });
}

}  // namespace varnel::test
