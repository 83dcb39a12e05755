// Dialog units to pixels, base units from the font, and a dialog laid out
// from its template.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ui/framework/Dialog.h"
#include "ui/framework/DialogTemplate.h"
#include "ui/framework/qt/DialogFont.h"
#include "ui/framework/qt/QtAccess.h"

using namespace varnel;

namespace {

QRect ToQRect(const PixelRect& r) { return QRect(r.x, r.y, r.w, r.h); }

TEST(DialogUnits, MapsEdgesWithKnownBaseUnits) {
  // The usual 8 pt dialog font: 6 x 13.
  const BaseUnits units{6, 13};
  // 145*6/4 = 217.5 -> 218; (145+57)*6/4 = 303; 26*13/8 = 42.25 -> 42; 56*13/8 = 91.
  EXPECT_EQ(DialogUnitsToPixels(units, 145, 26, 57, 30), (PixelRect{218, 42, 85, 49}));
  // 29*6/4 = 43.5 -> 44; 46*6/4 = 69; 28*13/8 = 45.5 -> 46; 36*13/8 = 58.5 -> 59.
  EXPECT_EQ(DialogUnitsToPixels(units, 29, 28, 17, 8), (PixelRect{44, 46, 25, 13}));
  // Whole dialog 293 x 72: 439.5 -> 440, 117.
  EXPECT_EQ(DialogUnitsToPixels(units, 0, 0, 293, 72), (PixelRect{0, 0, 440, 117}));

  // Controls that touch in dialog units touch in pixels, whatever the rounding.
  const BaseUnits odd{7, 15};
  for (int x = 0; x < 40; ++x) {
    const PixelRect left = DialogUnitsToPixels(odd, x, x, 13, 5);
    const PixelRect right = DialogUnitsToPixels(odd, x + 13, x + 5, 9, 3);
    EXPECT_EQ(left.x + left.w, right.x) << x;
    EXPECT_EQ(left.y + left.h, right.y) << x;
  }
}

TEST(DialogUnits, BaseUnitsRoundTheAverageWidth) {
  // The average of 52 letters, rounded half up: 337/52 = 6.48 -> 6, 338/52 = 6.5 -> 7.
  EXPECT_EQ(BaseUnitsFromMetrics(337, 13).baseX, 6);
  EXPECT_EQ(BaseUnitsFromMetrics(338, 13).baseX, 7);
  EXPECT_EQ(BaseUnitsFromMetrics(312, 13).baseX, 6);
  EXPECT_EQ(BaseUnitsFromMetrics(338, 16).baseY, 16);
  // A degenerate font never gives zero units.
  EXPECT_EQ(BaseUnitsFromMetrics(0, 0).baseX, 1);
  EXPECT_EQ(BaseUnitsFromMetrics(0, 0).baseY, 1);
}

TEST(DialogUnits, BaseUnitsComeFromTheFontInUse) {
  const QFont font = DialogFont("MS Shell Dlg", 8);
  const QFontMetrics fm(font);
  const BaseUnits units = MeasureBaseUnits(font);
  const int average = fm.horizontalAdvance("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  EXPECT_NEAR(units.baseX, average / 52.0, 0.5);
  EXPECT_EQ(units.baseY, fm.height());
  // The logical dialog font is made real with a CJK fallback behind it.
  EXPECT_GE(font.families().size(), 2);
  EXPECT_TRUE(QFontMetrics(font).inFontUcs4(U'A'));
  // A larger font gives larger units, so boxes grow with their texts.
  const BaseUnits larger = MeasureBaseUnits(DialogFont("MS Shell Dlg", 14));
  EXPECT_GT(larger.baseX, units.baseX);
  EXPECT_GT(larger.baseY, units.baseY);
}

TEST(DialogUnits, ChineseCaptionsFitTheirBoxes) {
  // Labels of the product's dialogs with their boxes (width, height in dialog units).
  struct Caption {
    const char* text;
    int w, h, pointSize;
  };
  const Caption captions[] = {
      {"波特率", 25, 8, 8}, {"串口", 17, 8, 8},     {"序列号", 25, 8, 8},   {"卡号", 18, 8, 9},
      {"串口速率", 28, 8, 9}, {"节点地址", 28, 8, 9}, {"输出模式", 28, 8, 9}, {"0/0", 34, 8, 8},
  };
  for (const Caption& c : captions) {
    const QFont font = DialogFont("MS Shell Dlg", c.pointSize);
    const BaseUnits units = MeasureBaseUnits(font);
    const PixelRect box = DialogUnitsToPixels(units, 0, 0, c.w, c.h);
    const QFontMetrics fm(font);
    const QString text = QString::fromUtf8(c.text);
    EXPECT_LE(fm.horizontalAdvance(text), box.w) << c.text;
    EXPECT_LE(fm.height(), box.h + 1) << c.text;
    // Every character has a glyph in one of the faces (no boxes drawn).
    for (const QChar ch : text) EXPECT_TRUE(fm.inFont(ch)) << c.text;
  }
}

DialogTemplate SampleTemplate() {
  DialogTemplate t;
  t.id = 131;
  t.caption = "串口选择";
  t.width = 293;
  t.height = 72;
  t.controls = {
      {1017, ControlKind::DropDownList, "", 145, 26, 57, 30, ControlFlags::VScroll},
      {kStaticId, ControlKind::Label, "波特率", 114, 28, 25, 8},
      {kStaticId, ControlKind::Label, "串口", 29, 28, 17, 8},
      {1018, ControlKind::DropDownList, "", 52, 26, 48, 30, ControlFlags::VScroll},
      {1016, ControlKind::PushButton, "连接", 215, 25, 50, 14},
      {1020, ControlKind::Edit, "", 10, 45, 60, 12, ControlFlags::Border | ControlFlags::Hidden},
      {1021, ControlKind::Edit, "", 80, 45, 60, 12, ControlFlags::Border | ControlFlags::Disabled},
      {1022, ControlKind::Edit, "", 150, 45, 60, 12, ControlFlags::Border},
      {kStaticId, ControlKind::GroupBox, "组", 5, 20, 280, 40},
  };
  return t;
}

TEST(DialogLayout, ControlsSitWhereTheTemplatePutsThem) {
  Dialog dialog(SampleTemplate());
  const BaseUnits units = dialog.Units();
  EXPECT_EQ(units.baseX, MeasureBaseUnits(Window(dialog)->font()).baseX);
  EXPECT_EQ(Window(dialog)->size(), QSize(DialogUnitsToPixels(units, 0, 0, 293, 72).w,
                                 DialogUnitsToPixels(units, 0, 0, 293, 72).h));
  EXPECT_EQ(Window(dialog)->windowTitle(), QString::fromUtf8("串口选择"));

  EXPECT_EQ(Widget(*dialog.Control(1016))->geometry(),
            ToQRect(DialogUnitsToPixels(units, 215, 25, 50, 14)));
  EXPECT_EQ(dialog.Control(1016)->Text(), "连接");
  // A drop-down's template height is its opened extent; closed it is as tall as its font needs.
  QWidget* list = Widget(*dialog.Control(1018));
  const QRect listBox = ToQRect(DialogUnitsToPixels(units, 52, 26, 48, 30));
  EXPECT_EQ(list->geometry().topLeft(), listBox.topLeft());
  EXPECT_EQ(list->width(), listBox.width());
  EXPECT_LT(list->height(), listBox.height());

  EXPECT_TRUE(Widget(*dialog.Control(1020))->isHidden());
  EXPECT_FALSE(dialog.Control(1020)->IsShown());
  EXPECT_FALSE(dialog.Control(1021)->IsEnabled());
  EXPECT_TRUE(dialog.Control(1022)->IsEnabled());
  EXPECT_TRUE(dialog.Control(1022)->IsShown());
}

TEST(DialogLayout, TabOrderIsTemplateOrderAndTheFirstControlIsOnTop) {
  DialogTemplate t = SampleTemplate();
  // Two overlapping buttons without tab stops: the earlier one lies on top.
  t.controls.push_back({1030, ControlKind::PushButton, "A", 240, 2, 30, 14, ControlFlags::NoTabStop});
  t.controls.push_back({1031, ControlKind::PushButton, "B", 250, 4, 30, 14, ControlFlags::NoTabStop});
  Dialog dialog(t);
  Window(dialog)->show();
  // Focusable, visible, enabled controls in the focus chain after the dialog.
  std::vector<QWidget*> chain;
  for (QWidget* w = Window(dialog)->nextInFocusChain(); w != Window(dialog); w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isVisibleTo(Window(dialog)) && w->isEnabled()) chain.push_back(w);
  }
  const std::vector<QWidget*> expected = {Widget(*dialog.Control(1017)), Widget(*dialog.Control(1018)),
                                          Widget(*dialog.Control(1016)), Widget(*dialog.Control(1022))};
  EXPECT_EQ(chain, expected);

  // Where a label and the group box overlap a list, the list is what is hit.
  QWidget* list = Widget(*dialog.Control(1018));
  const QPoint inside = list->geometry().center();
  EXPECT_EQ(Window(dialog)->childAt(inside), list);
  // The group box is beneath everything it frames.
  auto* group = Window(dialog)->findChild<QGroupBox*>();
  ASSERT_NE(group, nullptr);
  EXPECT_LT(Window(dialog)->children().indexOf(group), Window(dialog)->children().indexOf(list));
  const QRect a = Widget(*dialog.Control(1030))->geometry();
  const QRect b = Widget(*dialog.Control(1031))->geometry();
  ASSERT_TRUE(a.intersects(b));
  EXPECT_EQ(Window(dialog)->childAt(a.intersected(b).center()), Widget(*dialog.Control(1030)));
  Window(dialog)->hide();
}

TEST(DialogLayout, StaticTextIsNotCutWhenWiderThanItsBox) {
  DialogTemplate t;
  t.width = 300;
  t.height = 60;
  t.controls = {
      {kStaticId, ControlKind::Label, "恢复出厂设置恢复出厂设置", 10, 10, 20, 8},
      {1019, ControlKind::StaticCentered, "0/0", 100, 30, 34, 8},
  };
  Dialog dialog(t);
  const BaseUnits units = dialog.Units();
  auto* label = qobject_cast<QLabel*>(Widget(*dialog.Controls()[0]));
  ASSERT_NE(label, nullptr);
  const QFontMetrics fm(label->font());
  EXPECT_GE(label->width(), fm.horizontalAdvance(label->text()));
  EXPECT_EQ(label->x(), DialogUnitsToPixels(units, 10, 10, 20, 8).x);  // grows to the right

  // A centred text that outgrows its box grows on both sides around the same centre.
  DialogControl* counter = dialog.Control(1019);
  const QRect box = ToQRect(counter->Box());
  EXPECT_EQ(Widget(*counter)->geometry(), box);  // "0/0" fits
  counter->SetText("65535/65535 65535/65535");
  const QRect grown = Widget(*counter)->geometry();
  EXPECT_GE(grown.width(), fm.horizontalAdvance(QString("65535/65535 65535/65535")));
  EXPECT_LE(std::abs(grown.center().x() - box.center().x()), 1);
  // Back to a short text: back to the template's box.
  counter->SetText("1/3");
  EXPECT_EQ(Widget(*counter)->geometry(), box);
}

TEST(DialogLayout, LookupFailsForAControlMissingFromTheTemplate) {
  DialogTemplate broken = SampleTemplate();
  EXPECT_TRUE(RemoveControl(broken, 1018));
  EXPECT_FALSE(RemoveControl(broken, 1018));
  Dialog dialog(broken);
  EXPECT_EQ(dialog.Control(1018), nullptr);
  EXPECT_EQ(dialog.Control(4242), nullptr);
  ASSERT_NE(dialog.Control(1017), nullptr);
  EXPECT_EQ(dialog.Control(1017)->Kind(), ControlKind::DropDownList);
  EXPECT_EQ(dialog.Controls().size(), SampleTemplate().controls.size() - 1);
}

}  // namespace
