// Renders the firmware progress window at N/N for a person to look at: the
// real window, fed the notifications of a 64 KiB image at about the pace a
// 115200 Bd line allows, written to a PNG the moment the last chunk is counted.
// Fails when the speed line still shows a time left there.
//
//   varnel-progress-shot out.png
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <cstdio>
#include <string>

#include "protocol/FirmwareTransfer.h"
#include "ui/ProgressDlg.h"
#include "ui/framework/MessageBoxes.h"
#include "ui/framework/qt/QtAccess.h"
#include "ui/framework/qt/QtApplication.h"
#include "tests/support/RecordingPresenter.h"
#include "tests/support/Screenshot.h"
#include "ui/framework/WindowNotifications.h"

int main(int argc, char** argv) {
  using namespace varnel;
  if (argc != 2) {
    std::fprintf(stderr, "usage: varnel-progress-shot out.png\n");
    return 2;
  }
  QApplication app(argc, argv);
  InstallChineseTranslations(app);

  constexpr std::uint32_t kImageSize = 64 * 1024;
  const int chunks = static_cast<int>(OtaChunkCount(kImageSize));
  WindowRegistry windows;
  DialogNotificationPoster poster(windows);
  RecordingPresenter boxes;  // the finished transfer's box would wait for a click
  FirmwareDownloadHooks hooks;
  hooks.imageSize = kImageSize;
  hooks.start = [] { return FirmwareLoadResult::Ok; };
  CProgressDlg dialog(windows, Operator{boxes, poster}, hooks);

  int result = 1;
  int sent = -1;  // -1: the total is still to be announced
  QTimer sender;
  QObject::connect(&sender, &QTimer::timeout, [&] {
    if (sent < 0) {
      poster.Post(kProgressDialogCaption, Notification{WM_FW_PROGRESS, PROGRESS_TOTAL, static_cast<std::uint32_t>(chunks), {}});
    } else if (sent < chunks) {
      poster.Post(kProgressDialogCaption, Notification{WM_FW_PROGRESS, PROGRESS_STEP, 0, {}});
    }
    ++sent;
    if (dialog.DoneChunks() < chunks || dialog.TotalChunks() != chunks) return;
    sender.stop();
    const std::string line = dialog.Control(progress_ids::RateLine)->Text();
    const std::string counter = dialog.Control(progress_ids::Counter)->Text();
    std::printf("at %s the speed line reads: %s\n", counter.c_str(), line.c_str());
    const bool written = GrabToPng(*Window(dialog), QString::fromLocal8Bit(argv[1]));
    if (written) std::printf("progress window written to %s\n", argv[1]);
    result = written && line.find("剩余") == std::string::npos ? 0 : 1;
    dialog.EndDialog(kIdCancel);
  });
  // 248 bytes and their answer take about 25 ms on a 115200 Bd line.
  QTimer::singleShot(0, [&] { sender.start(25); });
  dialog.RunModal();
  return result;
}
