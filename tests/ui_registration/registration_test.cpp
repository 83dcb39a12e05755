// Production registration: the registration dialog on its own, offscreen, with
// a clock the test sets and every frame the session sends recorded instead of
// written; then from the main window against the simulated sensor, where the
// serial number reaches the sensor, which reports it on its next identity
// chain, the ledger holds it, and the card search stays paused afterwards.
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "link/FrameReceiver.h"
#include "platform/LockFile.h"
#include "protocol/DeviceSession.h"
#include "tests/support/FrameRecorder.h"
#include "tests/support/SimProcess.h"
#include "tests/support/UiHarness.h"
#include "tests/ui_registration/RegistrationFixture.h"
#include "ui/ConnectDlg.h"
#include "ui/DevRegister.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

constexpr int kSearchCard = 1003;
constexpr int kDeviceInfo = 1004;
constexpr int kProductionRegister = 1021;
constexpr int kDatePrefix = 1022;
constexpr int kSerialText = 1023;
constexpr int kRegister = 1024;

// The 38-byte registration payload: marker, year byte, month, text zero-filled.
Bytes RegistrationPayload(std::uint8_t year, std::uint8_t month, const std::string& textBytes) {
  Bytes payload = {0xFE, 0xFE, 0xFE, 0xFE, year, month};
  payload.insert(payload.end(), textBytes.begin(), textBytes.end());
  payload.resize(38, 0x00);
  return payload;
}

class DevRegisterTest : public RegistrationFolderTest {
 protected:
  // Every registration write sent so far, as its command byte and payload.
  std::vector<Bytes> RegistrationWrites() const {
    std::vector<Bytes> writes;
    for (const Bytes& f : sender.Frames()) {
      EXPECT_EQ(CodeOf(f), 0xEF) << "unexpected command byte";
      EXPECT_EQ(PayloadOf(f).size(), std::size_t{f.at(6)} | std::size_t{f.at(7)} << 8) << "length field";
      writes.push_back(PayloadOf(f));
    }
    return writes;
  }

  // Runs the dialog modally with the steps; answers its result.
  int Run(CDevRegister& dialog, UiScript& script) {
    int result = 0;
    EXPECT_TRUE(script.RunDuring([&] { result = dialog.RunModal(); }));
    return result;
  }

  static void Type(CDevRegister& dialog, const char* text) { TypeText(*dialog.Control(kSerialText), text); }
  static void PressRegister(CDevRegister& dialog) { Click(*dialog.Control(kRegister)); }

  UiHarness harness;
  RecordingSender sender;
  FrameReceiver receiver;
  DeviceSession session{sender, receiver, [] {}, harness.op};
  std::function<std::time_t()> clock = [] { return Utc(2019, 7, 5, 9, 30, 12); };
  AppServices services{harness.link, session, harness.windows, harness.op, harness.ledger,
                       [] { return std::vector<std::string>{}; }, [this] { return clock(); }};
};

TEST_F(DevRegisterTest, OpensWithDatePrefixAndTakesAtMostEightCharacters) {
  WriteLedger("");
  CDevRegister dialog(services);
  std::string prefix, initialText, typed;
  bool prefixReadOnly = false;
  UiScript script;
  script.Do([&] {
          prefix = dialog.Control(kDatePrefix)->Text();
          TypeText(*dialog.Control(kDatePrefix), "X");
          prefixReadOnly = dialog.Control(kDatePrefix)->Text() == prefix;
          initialText = dialog.Control(kSerialText)->Text();
          Type(dialog, "ABCDEFGHI");
          typed = dialog.Control(kSerialText)->Text();
        })
      .Do([&] { PressKey(*dialog.Control(kSerialText), Key::Escape); });
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  EXPECT_EQ(dialog.Caption(), "设备注册");
  EXPECT_EQ(prefix, "19-07-");
  EXPECT_TRUE(prefixReadOnly);
  EXPECT_EQ(initialText, "");
  EXPECT_EQ(typed, "ABCDEFGH");
  // Escape records and sends nothing.
  EXPECT_TRUE(RegistrationWrites().empty());
  EXPECT_EQ(ReadLedger(), "");
  EXPECT_TRUE(harness.boxes.Texts().empty());
}

TEST_F(DevRegisterTest, RegistersRecordsAndSendsThenCloses) {
  WriteLedger("");
  CDevRegister dialog(services);
  UiScript script;
  script.Do([&] { Type(dialog, "A0001"); }).Do([&] { PressRegister(dialog); });
  // Registration ends the dialog with Cancel.
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x07, "A0001"));
  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
  EXPECT_TRUE(harness.boxes.Texts().empty());
}

TEST_F(DevRegisterTest, WireBytesOfTheWorkedExample) {
  // A17 registered in March 2024.
  WriteLedger("");
  clock = [] { return Utc(2024, 3, 15, 12, 0, 0); };
  CDevRegister dialog(services);
  UiScript script;
  script.Do([&] { Type(dialog, "A17"); }).Do([&] { PressRegister(dialog); });
  Run(dialog, script);
  const Bytes expected = {0xFE, 0xFE, 0xFE, 0xFE, 0x18, 0x03, 0x41, 0x31, 0x37, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                          0,    0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], expected);
}

TEST_F(DevRegisterTest, EmptyTextRegistersTheBarePrefix) {
  WriteLedger("");
  CDevRegister dialog(services);
  UiScript script;
  script.Do([&] { PressRegister(dialog); });
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x07, ""));
  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-07- = 2019-07-05 09:30:12\r\n");
}

TEST_F(DevRegisterTest, DuplicateIsRefusedAndTheDialogStaysOpenForAnotherTry) {
  const std::string ledger = "[DID]\r\n19-07-ab12 = 2019-07-01 08:00:00\r\n";
  WriteLedger(ledger);
  CDevRegister dialog(services);
  bool stillOpen = false;
  std::vector<RecordedBox> refusal;
  UiScript script;
  script.Do([&] { Type(dialog, "AB12"); })
      .Do([&] { PressRegister(dialog); })
      .Do([&] {
        stillOpen = dialog.IsRunning();
        refusal = harness.boxes.Boxes();
        // Nothing went out and nothing was stored before the operator tries again.
        EXPECT_TRUE(RegistrationWrites().empty());
        EXPECT_EQ(ReadLedger(), ledger);
        dialog.Control(kSerialText)->SetText("AB13");
        PressRegister(dialog);
      });
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  EXPECT_TRUE(stillOpen);
  ASSERT_EQ(refusal.size(), 1u);
  EXPECT_EQ(refusal[0].text, "\"19-07-AB12\"的记录已经存在");
  EXPECT_EQ(refusal[0].caption, "");  // the application's name
  EXPECT_EQ(refusal[0].buttons, MessageButtons::Ok);
  EXPECT_EQ(refusal[0].owner, MessageOwner::ActiveDialog);

  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x07, "AB13"));
  EXPECT_EQ(ReadLedger(),
            "[DID]\r\n19-07-ab12 = 2019-07-01 08:00:00\r\n19-07-AB13 = 2019-07-05 09:30:12\r\n");
}

TEST_F(DevRegisterTest, PressAfterMidnightAtMonthEndDatesEverythingInTheNewMonth) {
  WriteLedger("");
  clock = [] { return Utc(2019, 7, 31, 23, 59, 59); };
  CDevRegister dialog(services);
  std::string prefix;
  UiScript script;
  script.Do([&] {
          prefix = dialog.Control(kDatePrefix)->Text();
          Type(dialog, "M1");
          // From here the clock moves on a second with every reading: a second
          // reading during one press would show in the time stamp.
          clock = [t = Utc(2019, 8, 1, 0, 0, 0)]() mutable { return t++; };
        })
      .Do([&] { PressRegister(dialog); });
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  EXPECT_EQ(prefix, "19-07-");  // the prefix shown is only what it was at opening
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x08, "M1"));
  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-08-M1 = 2019-08-01 00:00:00\r\n");
}

TEST_F(DevRegisterTest, AbsentLedgerWarnsTwiceButStillSendsAndNeverRefusesAgain) {
  // No Tallis.ini in the current folder.
  for (int attempt = 1; attempt <= 2; ++attempt) {
    SCOPED_TRACE(attempt);
    harness.boxes.Clear();
    CDevRegister dialog(services);
    UiScript script;
    script.Do([&] { Type(dialog, "Z9"); }).Do([&] { PressRegister(dialog); });
    EXPECT_EQ(Run(dialog, script), kIdCancel);

    const std::vector<RecordedBox> boxes = harness.boxes.Boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Tallis.ini读取错误");
    EXPECT_EQ(boxes[1].text, "Tallis.ini打开错误");
    for (const RecordedBox& box : boxes) EXPECT_EQ(box.caption, "警告");
    ASSERT_EQ(RegistrationWrites().size(), static_cast<std::size_t>(attempt));
    EXPECT_EQ(RegistrationWrites().back(), RegistrationPayload(0x13, 0x07, "Z9"));
    EXPECT_FALSE(ReadLedger().has_value());  // the ledger is never created
  }
}

TEST_F(DevRegisterTest, ClosingWithoutRegisteringRecordsAndSendsNothing) {
  WriteLedger("");
  struct Closer {
    const char* how;
    std::function<void(CDevRegister&)> close;
    int result;
  };
  const std::vector<Closer> closers = {
      {"Escape", [](CDevRegister& d) { PressKey(*d.Control(kSerialText), Key::Escape); },
       kIdCancel},
      {"close box", [](CDevRegister& d) { PressCloseBox(d); }, kIdCancel},
      {"Enter in the text",
       [](CDevRegister& d) { PressKey(*d.Control(kSerialText), Key::Enter); },
       kIdOk},
  };
  for (const Closer& closer : closers) {
    SCOPED_TRACE(closer.how);
    CDevRegister dialog(services);
    UiScript script;
    script.Do([&] { Type(dialog, "Q1"); }).Do([&] { closer.close(dialog); });
    EXPECT_EQ(Run(dialog, script), closer.result);
  }
  EXPECT_TRUE(RegistrationWrites().empty());
  EXPECT_EQ(ReadLedger(), "");
  EXPECT_TRUE(harness.boxes.Texts().empty());
}

TEST_F(DevRegisterTest, EnterOnTheRegisterButtonRegisters) {
  WriteLedger("");
  CDevRegister dialog(services);
  UiScript script;
  script.Do([&] { Type(dialog, "K7"); }).Do([&] {
    PressKey(*dialog.Control(kRegister), Key::Enter);
  });
  EXPECT_EQ(Run(dialog, script), kIdCancel);
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x07, "K7"));
}

TEST_F(DevRegisterTest, TextGoesToTheSensorInGbk) {
  WriteLedger("");
  CDevRegister dialog(services);
  UiScript script;
  // 中 is D6 D0 in GBK.
  script.Do([&] { Type(dialog, "中A"); }).Do([&] { PressRegister(dialog); });
  Run(dialog, script);
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(0x13, 0x07, "\xD6\xD0" "A"));
  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-07-\xD6\xD0" "A = 2019-07-05 09:30:12\r\n");
}

TEST_F(DevRegisterTest, TextTheLedgerCannotHoldIsRefusedBeforeAnythingIsStoredOrSent) {
  const std::string ledger = "[DID]\r\n19-07-A = 2019-07-01 08:00:00\r\n";
  WriteLedger(ledger);
  const struct {
    const char* text;
    const char* named;  // how the refusal names the character
  } cases[] = {
      {"AB ", "空格(U+0020)"},  // the ledger would drop the blank: the sensor and the ledger would disagree
      {"a=b", "\"=\"(U+003D)"},
      {"Aก", "\"ก\"(U+0E01)"},  // no GBK form: "A?" would collide with another number
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    harness.boxes.Clear();
    CDevRegister dialog(services);
    bool stillOpen = false;
    UiScript script;
    script.Do([&] { Type(dialog, c.text); })
        .Do([&] { PressRegister(dialog); })
        .Do([&] {
          stillOpen = dialog.IsRunning();
          PressKey(*dialog.Control(kSerialText), Key::Escape);
        });
    Run(dialog, script);
    EXPECT_TRUE(stillOpen);
    const std::vector<RecordedBox> boxes = harness.boxes.Boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_NE(boxes[0].text.find(c.named), std::string::npos) << boxes[0].text;
    EXPECT_EQ(boxes[0].caption, "警告");
  }
  EXPECT_TRUE(RegistrationWrites().empty());
  EXPECT_EQ(ReadLedger(), ledger);
}

TEST_F(DevRegisterTest, LedgerKeptByAnotherStationRegistersNothingUntilItIsFree) {
  const std::string ledger = "[DID]\r\n";
  WriteLedger(ledger);
  std::optional<LockFile> other = LockFile::Acquire(LedgerPath().string() + ".lock", std::chrono::milliseconds(0));
  ASSERT_EQ(other->Status(), LockFile::State::Held);
  RegistrationLedger patientLedger(harness.op, std::chrono::milliseconds(50));
  AppServices shared{harness.link, session, harness.windows, harness.op, patientLedger,
                     [] { return std::vector<std::string>{}; }, [this] { return clock(); }};
  CDevRegister dialog(shared);
  bool stillOpen = false;
  std::vector<std::string> refusal;
  UiScript script;
  script.Do([&] { Type(dialog, "A7"); })
      .Do([&] { PressRegister(dialog); })
      .Do([&] {
        stillOpen = dialog.IsRunning();
        refusal = harness.boxes.Texts();
        EXPECT_TRUE(RegistrationWrites().empty());
        EXPECT_EQ(ReadLedger(), ledger);
        other.reset();  // the other station is done
        PressRegister(dialog);
      });
  EXPECT_EQ(Run(dialog, script), kIdCancel);

  EXPECT_TRUE(stillOpen);
  ASSERT_EQ(refusal.size(), 1u);
  const std::string holder = LockHolderText();
  EXPECT_NE(refusal[0].find("上的进程" + holder.substr(holder.rfind(' ') + 1) + "使用"), std::string::npos)
      << refusal[0];
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(ReadLedger(), ledger + "19-07-A7 = 2019-07-05 09:30:12\r\n");
}

TEST_F(DevRegisterTest, YearsPastTheTwoDigitSchemeKeepRecordAndSerialInStep) {
  // 2100 has no two-digit form: the year byte is 100 and the prefix shows it whole,
  // in 1022, in the ledger and in the sensor alike.
  WriteLedger("");
  clock = [] { return Utc(2100, 3, 1, 10, 0, 0); };
  CDevRegister dialog(services);
  std::string prefix;
  UiScript script;
  script.Do([&] { prefix = dialog.Control(kDatePrefix)->Text(); })
      .Do([&] { Type(dialog, "C3"); })
      .Do([&] { PressRegister(dialog); });
  Run(dialog, script);
  EXPECT_EQ(prefix, "100-03-");
  ASSERT_EQ(RegistrationWrites().size(), 1u);
  EXPECT_EQ(RegistrationWrites()[0], RegistrationPayload(100, 3, "C3"));
  EXPECT_EQ(ReadLedger(), "[DID]\r\n100-03-C3 = 2100-03-01 10:00:00\r\n");
}

TEST_F(DevRegisterTest, WithoutTheTextControlNothingIsRegistered) {
  WriteLedger("");
  DialogTemplate broken = RegisterDialogTemplate();
  std::erase_if(broken.controls, [](const ControlTemplate& c) { return c.id == kSerialText; });
  CDevRegister dialog(services, broken);
  bool stillOpen = false;
  UiScript script;
  script.Do([&] { PressRegister(dialog); }).Do([&] {
    stillOpen = dialog.IsRunning();
    dialog.EndDialog(kIdCancel);
  });
  Run(dialog, script);
  EXPECT_TRUE(stillOpen);
  EXPECT_TRUE(RegistrationWrites().empty());
  EXPECT_EQ(ReadLedger(), "");
}

// From the main window, against the simulated sensor.
using ProductionRegisterTest = RegistrationFolderTest;

TEST_F(ProductionRegisterTest, SerialNumberReachesTheSensorAndTheLedgerWhileCardSearchStaysPaused) {
  SimProcess sim({"--sn", "24 3 A17"});
  ASSERT_TRUE(sim.Started());
  WriteLedger("");
  UiHarness harness;
  harness.ports = {sim.LinkPath()};
  harness.services.now = [] { return Utc(2019, 7, 5, 9, 30, 12); };
  CVarnelDlg dlg(harness.services);
  auto deviceInfo = [&] { return dlg.Control(kDeviceInfo)->Text(); };
  auto shows = [&](const std::string& line) { return deviceInfo().find(line) != std::string::npos; };

  bool buttonHidden = false;
  bool pollStoppedWhileOpen = false;
  bool returned = false;
  std::string captionAfter;
  bool searchActiveAfter = false;
  bool pollRunningAfter = true;
  std::map<std::string, std::string> stats;

  UiScript script;
  script
      .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
            [] { ActiveModal<CConnectDlg>()->OnConnect(); })
      .WaitFor("first identity chain", [&] { return shows("设备 S/N : 24-03-A17"); }, 15s)
      .Do([&] {
        buttonHidden = !dlg.Control(kProductionRegister)->IsShown();
        Click(*dlg.Control(kSearchCard));
      })
      .WaitFor("card search running",
               [&] { return harness.session.IsCardPollRunning() && dlg.Control(kSearchCard)->Text() == "停止寻卡"; })
      .Do([&] {
        // The button is hidden from the operator; the handler is reached directly.
        // Queued, so the script keeps running inside the registration dialog's own loop.
        RunSoon([&] {
          dlg.OnProductionRegister();
          returned = true;
        });
      })
      .When("registration dialog", [] { return ActiveModal<CDevRegister>() != nullptr; },
            [&] {
              pollStoppedWhileOpen = !harness.session.IsCardPollRunning();
              CDevRegister* reg = ActiveModal<CDevRegister>();
              TypeText(*reg->Control(kSerialText), "A0001");
              Click(*reg->Control(kRegister));
            })
      .WaitFor("registration dialog closed", [&] { return returned; })
      .WaitFor("sensor's status reply", [&] { return harness.boxes.Count() >= 1; })
      .WaitFor("sensor holds the new serial number", [&] { return sim.State()["sn"] == "19-07-A0001"; })
      .Do([&] { harness.session.SendIdentityQuery(); })
      .WaitFor("new serial number shown", [&] { return shows("设备 S/N : 19-07-A0001"); }, 15s)
      .Do([&] {
        captionAfter = dlg.Control(kSearchCard)->Text();
        searchActiveAfter = dlg.CardSearchActive();
        pollRunningAfter = harness.session.IsCardPollRunning();
        stats = sim.Stats();
        dlg.EndDialog(kIdCancel);
      });
  EXPECT_TRUE(script.RunDuring([&] { dlg.RunModal(); }));

  EXPECT_TRUE(buttonHidden);
  EXPECT_TRUE(pollStoppedWhileOpen);
  // Paused: the search still counts as on and says so, but nothing polls.
  EXPECT_EQ(captionAfter, "停止寻卡");
  EXPECT_TRUE(searchActiveAfter);
  EXPECT_FALSE(pollRunningAfter);
  EXPECT_FALSE(shows("设备 S/N : 24-03-A17"));  // the box was emptied for the new chain

  // Exactly one registration write was answered, with success.
  EXPECT_EQ(SimProcess::RequestsOf(stats, 0xEF), 1u) << stats["codes"];
  const std::vector<RecordedBox> boxes = harness.boxes.Boxes();
  ASSERT_FALSE(boxes.empty());
  EXPECT_EQ(boxes[0].text, "设置成功");
  EXPECT_EQ(boxes[0].caption, "提示");

  EXPECT_EQ(ReadLedger(), "[DID]\r\n19-07-A0001 = 2019-07-05 09:30:12\r\n");
}

TEST_F(ProductionRegisterTest, ProductionRegisterButtonIsRegisteredButHidden) {
  // An operator cannot reach registration; a click on the (hidden) button still
  // opens the dialog, so the handler is wired to 1021.
  SimProcess sim;
  ASSERT_TRUE(sim.Started());
  WriteLedger("");
  UiHarness harness;
  harness.ports = {sim.LinkPath()};
  CVarnelDlg dlg(harness.services);
  bool hidden = false;
  bool opened = false;
  UiScript script;
  script
      .When("connect dialog", [] { return ActiveModal<CConnectDlg>() != nullptr; },
            [] { ActiveModal<CConnectDlg>()->OnConnect(); })
      .Do([&] {
        hidden = !dlg.Control(kProductionRegister)->IsShown();
        // What a click on the button raises; the operator cannot click it.
        RunSoon([&] { dlg.Dispatch(kProductionRegister, Notify::Clicked); });
      })
      .When("registration dialog", [] { return ActiveModal<CDevRegister>() != nullptr; },
            [&] {
              opened = ActiveModal<CDevRegister>()->Caption() == "设备注册";
              PressKey(*ActiveModal<CDevRegister>()->Control(kSerialText), Key::Escape);
            })
      .WaitFor("registration dialog closed", [] { return ActiveModal<CDevRegister>() == nullptr; })
      .Do([&] { dlg.EndDialog(kIdCancel); });
  EXPECT_TRUE(script.RunDuring([&] { dlg.RunModal(); }));
  EXPECT_TRUE(hidden);
  EXPECT_TRUE(opened);
  EXPECT_EQ(ReadLedger(), "");
  EXPECT_EQ(sim.RequestsOf(0xEF), 0u);
}

}  // namespace
}  // namespace varnel::test
