// Renders each dialog of the tool and checks what an operator would see: every
// caption drawn in a font that has its characters, every caption inside its
// control, and no control overlapping another (group boxes frame controls, so
// they only must not overlap each other). With a file name, the main dialog is
// also written there as a PNG, for a person to look at, and beside it the main
// window as it shows a lost sensor, an eight-character serial number and an
// extended CAN identifier (NAME-disconnected.png, NAME-sn8.png, NAME-extid.png).
//
//   varnel-layout-check [main.png]
#include <QApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QRawFont>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ledger/RegistrationLedger.h"
#include "link/DeviceLink.h"
#include "platform/CodePage.h"
#include "protocol/CommandSet.h"
#include "protocol/DeviceSession.h"
#include "ui/AppServices.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtApplication.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/Screenshot.h"
#include "ui/framework/WindowNotifications.h"

namespace {

// The device-information operations, as the sensor's replies carry them.
constexpr std::uint32_t kAppend = 0;
constexpr std::uint32_t kClear = 0xFFFFFFFFu;

using varnel::ControlKind;

int problems = 0;

void Problem(const varnel::DialogTemplate& t, const std::string& what) {
  std::fprintf(stderr, "template %d: %s\n", t.id, what.c_str());
  ++problems;
}

bool Framing(ControlKind kind) { return kind == ControlKind::GroupBox; }

void Check(const varnel::DialogTemplate& t) {
  varnel::WindowRegistry registry;
  varnel::Dialog dialog(t, nullptr, &registry);
  varnel::Window(dialog)->show();
  QCoreApplication::processEvents();

  const auto& controls = dialog.Controls();
  for (const auto& c : controls) {
    QWidget* w = varnel::Widget(*c);
    const QString caption = QString::fromStdString(c->Text());
    if (caption.isEmpty() || c->Kind() == ControlKind::DropDownList) continue;
    const QFontMetrics metrics(w->font());
    for (const QChar ch : caption) {
      if (!metrics.inFont(ch))
        Problem(t, "no glyph for U+" + QString::number(ch.unicode(), 16).toStdString() + " in '" +
                       caption.toStdString() + "'");
    }
    // A group box's title and a button's text have margins of their own.
    const int room = w->width() - (c->Kind() == ControlKind::PushButton ? 4 : 0);
    if (metrics.horizontalAdvance(caption) > room)
      Problem(t, "caption '" + caption.toStdString() + "' is wider than its control (" +
                     std::to_string(metrics.horizontalAdvance(caption)) + " > " + std::to_string(room) + " px)");
  }
  for (std::size_t i = 0; i < controls.size(); ++i) {
    for (std::size_t j = i + 1; j < controls.size(); ++j) {
      const auto& a = *controls[i];
      const auto& b = *controls[j];
      if (varnel::Widget(a)->isHidden() || varnel::Widget(b)->isHidden()) continue;
      if (Framing(a.Kind()) != Framing(b.Kind())) continue;  // a frame around a control is no overlap
      const QRect ra = varnel::Widget(a)->geometry(), rb = varnel::Widget(b)->geometry();
      // Group boxes may nest (serial settings inside sensor settings); they must not cross.
      const bool nested = Framing(a.Kind()) && (ra.contains(rb) || rb.contains(ra));
      if (!nested && ra.intersects(rb))
        Problem(t, "controls " + std::to_string(a.Id()) + " '" + a.Text() + "' and " + std::to_string(b.Id()) +
                       " '" + b.Text() + "' overlap");
    }
  }
}

// The main window in one state, written next to `base` with this suffix.
bool CaptureMainState(const QString& base, const char* suffix,
                      const std::function<void(varnel::CVarnelDlg&, varnel::SensorSettings&)>& state) {
  varnel::FrameReceiver receiver;
  varnel::WindowRegistry registry;
  varnel::DialogNotificationPoster poster{registry};
  varnel::RecordingPresenter boxes;
  const varnel::Operator op{boxes, poster};
  varnel::DeviceLink link{receiver, op};
  varnel::DeviceSession session{link, receiver, {}, op};
  varnel::RegistrationLedger ledger{op};
  varnel::AppServices services{link, session, registry, op, ledger, [] { return std::vector<std::string>{}; }};
  varnel::CVarnelDlg dlg(services);
  dlg.FillSettingLists();
  dlg.Control(varnel::main_ids::ProductionRegister)->Show(false);  // as the running program hides it
  varnel::Window(dlg)->show();
  QCoreApplication::processEvents();
  state(dlg, session.Settings());
  dlg.ShowSettings();
  QCoreApplication::processEvents();
  QString path = base;
  path.insert(path.endsWith(".png") ? path.size() - 4 : path.size(), QString("-") + suffix);
  if (!varnel::GrabToPng(*varnel::Window(dlg), path)) {
    std::fprintf(stderr, "could not write %s\n", path.toLocal8Bit().constData());
    return false;
  }
  std::printf("main dialog (%s) written to %s\n", suffix, path.toLocal8Bit().constData());
  return true;
}

bool CaptureMainStates(const QString& base) {
  using varnel::CVarnelDlg;
  using varnel::SensorSettings;
  auto identity = [](CVarnelDlg& dlg, const char* serial) {
    dlg.OnDeviceInfo(kClear, std::nullopt);
    dlg.OnDeviceInfo(kAppend, varnel::FormatFirmwareVersionLine(1, 2, 3));
    dlg.OnDeviceInfo(kAppend, varnel::FormatHardwareVersionLine(4, 5, 6));
    dlg.OnDeviceInfo(kAppend, varnel::FormatSerialNumberLine(24, 3, varnel::Utf8ToCodePage(serial)));
  };
  bool ok = CaptureMainState(base, "disconnected", [&](CVarnelDlg& dlg, SensorSettings&) {
    identity(dlg, "A17");
    dlg.OnDeviceInfo(kClear, std::nullopt);
    dlg.OnDeviceInfo(kAppend, std::string(varnel::kDisconnectedText));
  });
  ok &= CaptureMainState(base, "sn8", [&](CVarnelDlg& dlg, SensorSettings& s) {
    identity(dlg, "WWWWWWWW");
    s.serialNodeAddress = 0xDD;
  });
  ok &= CaptureMainState(base, "extid", [&](CVarnelDlg& dlg, SensorSettings& s) {
    identity(dlg, "A0001");
    s.canNodeId = 0x1FFFFFFF;
    s.canFrameType = 1;
  });
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  varnel::InstallChineseTranslations(app);
  for (const auto& t : {varnel::MainDialogTemplate(), varnel::ConnectDialogTemplate(),
                        varnel::ProgressDialogTemplate(), varnel::RegisterDialogTemplate()})
    Check(t);
  if (argc > 1) {
    varnel::WindowRegistry registry;
    varnel::Dialog main(varnel::MainDialogTemplate(), nullptr, &registry);
    varnel::Window(main)->show();
    QCoreApplication::processEvents();
    if (!varnel::GrabToPng(*varnel::Window(main), QString::fromLocal8Bit(argv[1]))) {
      std::fprintf(stderr, "could not write %s\n", argv[1]);
      return 1;
    }
    std::printf("main dialog written to %s\n", argv[1]);
    if (!CaptureMainStates(QString::fromLocal8Bit(argv[1]))) return 1;
  }
  std::printf("%d layout problem(s)\n", problems);
  return problems == 0 ? 0 : 1;
}
