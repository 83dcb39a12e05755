// What the operator can read of the main dialog on Qt, measured with the
// fonts and widgets in use: lines that fit, and edits that show their whole text.
#include <QCoreApplication>
#include <QDialog>
#include <QFontMetrics>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBlock>
#include <gtest/gtest.h>

#include "platform/CodePage.h"
#include "protocol/CommandSet.h"
#include "tests/support/UiHarness.h"
#include "ui/DialogTemplates.h"
#include "ui/VarnelDlg.h"
#include "ui/framework/qt/QtAccess.h"

namespace varnel {
namespace {

using test::UiHarness;

// What the operator can read, measured on the shown window: a line of the
// device-information box starts at its first character and fits beside the
// box's edge; an edit shows its whole text with the cursor at either end.
class MainDialogReadable : public ::testing::Test {
 protected:
  UiHarness h;
  std::unique_ptr<CVarnelDlg> dlg = std::make_unique<CVarnelDlg>(h.services);

  void SetUp() override {
    dlg->FillSettingLists();
    Window(*dlg)->show();
    QCoreApplication::processEvents();
  }
  std::string Text(int id) { return dlg->Control(id)->Text(); }
  SensorSettings& S() { return h.session.Settings(); }

  void ExpectInfoLinesReadable() {
    QCoreApplication::processEvents();
    QPlainTextEdit* box = TextEdit(*dlg->Control(main_ids::EditDeviceInfo));
    const QFontMetrics fm(box->font());
    const int room = box->viewport()->width() - 2 * static_cast<int>(box->document()->documentMargin());
    EXPECT_EQ(box->horizontalScrollBar()->value(), 0) << "the view is scrolled sideways";
    EXPECT_EQ(box->horizontalScrollBar()->maximum(), 0) << "a line is wider than the box";
    for (QTextBlock b = box->document()->begin(); b.isValid(); b = b.next())
      EXPECT_LE(fm.horizontalAdvance(b.text()), room) << b.text().toStdString();
  }

  void ExpectWholeText(int id) {
    QLineEdit* edit = LineEdit(*dlg->Control(id));
    const int need = QFontMetrics(edit->font()).horizontalAdvance(edit->text());
    edit->end(false);
    edit->grab();  // lays the text out for this cursor position
    const QRect atEnd = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    edit->home(false);
    edit->grab();
    const QRect atHome = edit->inputMethodQuery(Qt::ImCursorRectangle).toRect();
    // Scrolled text moves between the two; whole text stays put and inside.
    EXPECT_NEAR(atEnd.center().x() - atHome.center().x(), need, 1) << edit->text().toStdString();
    EXPECT_GE(atHome.center().x(), 0) << edit->text().toStdString();
    EXPECT_LE(atEnd.center().x(), edit->width()) << edit->text().toStdString();
  }
};

TEST_F(MainDialogReadable, IdentityLinesWithTheLongestSerialNumberAndTheDisconnectText) {
  // Eight characters (what registration writes), in the widest glyphs there are.
  for (const char* serial : {"WWWWWWWW", "@@@@@@@@", "测试测试测试测试", "A17"}) {
    dlg->OnDeviceInfo(0xFFFFFFFFu, std::nullopt);
    dlg->OnDeviceInfo(0, FormatFirmwareVersionLine(255, 255, 255));
    dlg->OnDeviceInfo(0, FormatHardwareVersionLine(255, 255, 255));
    dlg->OnDeviceInfo(0, FormatSerialNumberLine(99, 12, Utf8ToCodePage(serial)));
    SCOPED_TRACE(serial);
    ExpectInfoLinesReadable();
  }
  dlg->OnDeviceInfo(0xFFFFFFFFu, std::nullopt);
  dlg->OnDeviceInfo(0, std::string(kDisconnectedText));
  ExpectInfoLinesReadable();

  // A sensor registered elsewhere may carry up to 31 characters: that line
  // cannot fit, but it is still shown from its first character.
  dlg->OnDeviceInfo(0, FormatSerialNumberLine(99, 12, std::string(31, 'W')));
  QCoreApplication::processEvents();
  QScrollBar* sideways = TextEdit(*dlg->Control(main_ids::EditDeviceInfo))->horizontalScrollBar();
  EXPECT_GT(sideways->maximum(), 0);
  EXPECT_EQ(sideways->value(), 0);
}

TEST_F(MainDialogReadable, EveryValueTheSettingsShowFitsItsEdit) {
  // The widest hexadecimal digit of this font makes the widest value.
  const QFontMetrics fm(LineEdit(*dlg->Control(main_ids::EditCanNodeAddr))->font());
  std::uint32_t widestDigit = 0;
  for (std::uint32_t d = 1; d < 16; ++d)
    if (fm.horizontalAdvance(QString::number(d, 16).toUpper()) >
        fm.horizontalAdvance(QString::number(widestDigit, 16).toUpper()))
      widestDigit = d;
  S().canNodeId = widestDigit * 0x11111111u;
  S().serialNodeAddress = static_cast<std::uint8_t>(widestDigit * 0x11u);
  for (std::uint8_t type : {1, 0}) {
    S().canFrameType = type;
    dlg->ShowSettings();
    ExpectWholeText(main_ids::EditCanNodeAddr);
    ExpectWholeText(main_ids::EditSerialNodeAddr);
  }
  S().canNodeId = 0x1FFFFFFF;  // the largest extended identifier
  S().canFrameType = 1;
  dlg->ShowSettings();
  EXPECT_EQ(Text(main_ids::EditCanNodeAddr), "0x1FFFFFFF");
  ExpectWholeText(main_ids::EditCanNodeAddr);
}

}  // namespace
}  // namespace varnel
