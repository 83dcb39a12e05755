// What the dialog layer does to Qt's widgets: scrolling, the drawn progress,
// the opened list's width, Qt's file chooser, pictures, and showing.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QToolButton>

#include "tests/support/OperatorInput.h"
#include "tests/support/Screenshot.h"
#include "tests/support/UiScript.h"
#include "ui/framework/Dialog.h"
#include "ui/framework/qt/ControlWidgets.h"
#include "ui/framework/qt/QtAccess.h"

using namespace varnel;
using namespace varnel::test;

namespace varnel::test {
DialogTemplate ControlsTemplate();  // dialog_test.cpp
}

namespace {

TEST(DialogControlsQt, MultiLineEditScrollsToTheNewestLine) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* box = dialog.Control(14);
  for (int i = 0; i < 42; ++i) box->AppendText("S/N: 0001\r\n");
  ProcessEvents();
  QPlainTextEdit* edit = TextEdit(*box);
  QScrollBar* bar = edit->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_GE(bar->value(), bar->maximum() - 1);  // scrolled down to the newest line...
  QTextCursor newest(edit->document()->lastBlock().previous());
  EXPECT_TRUE(edit->viewport()->rect().contains(edit->cursorRect(newest)));  // ...which is in view
}

TEST(DialogControlsQt, ProgressBarDrawsThePositionAndAnEmptyRangeAsEmpty) {
  Dialog dialog(ControlsTemplate());
  DialogControl* bar = dialog.Control(15);
  ASSERT_TRUE(bar->SetRange(0, 0));
  EXPECT_NE(Progress(*bar)->maximum(), 0);  // not Qt's busy indicator
  ASSERT_TRUE(bar->SetRange(0, 3));
  bar->SetPosition(3);
  EXPECT_EQ(Progress(*bar)->value(), 3);
}

TEST(DialogControlsQt, ListOpensWideEnoughForItsLongestEntry) {
  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* list = dialog.Control(12);
  const QString longPath = "/run/user/1000/varnel/ports/simulated-sensor-with-a-long-name";
  list->InsertItem(-1, "/dev/ttyUSB0");
  list->InsertItem(-1, longPath.toStdString());
  QComboBox* combo = ComboBox(*list);
  QTest::mouseClick(combo, Qt::LeftButton);
  EXPECT_GE(combo->view()->width(), combo->view()->fontMetrics().horizontalAdvance(longPath));
  combo->hidePopup();
}

TEST(DialogControlsQt, BrowseButtonPutsTheChosenFileIntoTheEdit) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("Rfid_v2.bin");
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("x");
  file.close();

  Dialog dialog(ControlsTemplate());
  ShowWindow(dialog);
  DialogControl* browse = dialog.Control(16);
  ASSERT_NE(BrowseEdit(*browse), nullptr);
  int changes = 0;
  dialog.On(16, Notify::EditChanged, [&] { ++changes; });
  bool sawDialog = false;
  UiScript()
      .When("the file chooser", [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); },
            [&] {
              auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
              sawDialog = chooser->fileMode() == QFileDialog::ExistingFile && chooser->nameFilters().size() <= 1;
              chooser->setDirectory(dir.path());
              chooser->selectFile(path);
              static_cast<QDialog*>(chooser)->accept();  // as the dialog's Open button does
            })
      .RunDuring([&] { QTest::mouseClick(BrowseEdit(*browse)->BrowseButton(), Qt::LeftButton); });
  EXPECT_TRUE(sawDialog);
  EXPECT_EQ(QString::fromStdString(browse->Text()), QDir::toNativeSeparators(path));
  EXPECT_GE(changes, 1);
}

// Counts the Show events of a window.
class ShowCounter final : public QObject {
 public:
  int shows = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Show) ++shows;
    return false;
  }
};

class EndsInInit final : public Dialog {
 public:
  using Dialog::Dialog;

 protected:
  void OnInitDialog() override { EndDialog(kIdCancel); }
};

TEST(DialogModalQt, EndingInsideInitialisationNeverShowsTheWindow) {
  EndsInInit dialog(ControlsTemplate());
  ShowCounter counter;
  Window(dialog)->installEventFilter(&counter);
  EXPECT_EQ(dialog.RunModal(), kIdCancel);
  EXPECT_EQ(counter.shows, 0);
}

TEST(DialogScreenshot, GrabsADialogToPng) {
  Dialog dialog(ControlsTemplate());
  QTemporaryDir dir;
  const QString path = dir.filePath("shot.png");
  ASSERT_TRUE(GrabToPng(*Window(dialog), path));
  const QImage image(path);
  EXPECT_EQ(image.size(), Window(dialog)->size() * Window(dialog)->devicePixelRatio());
}

}  // namespace
