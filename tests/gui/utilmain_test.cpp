#include "utilmain/utilmain.h"

#include <fstream>

#include <QAccessible>
#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QtTest/QTest>

#include "guitest.h"
#include "utilmain/settings.h"

namespace {

// A frame window with the frame's own settings handling.
class TTestForm : public TUtilMainForm {
 public:
  TTestForm() {
    // One window per run in real use: each test window starts from the
    // bare application title.
    SetInitialApplicationTitle(QStringLiteral("Kesl"));
    Other = new QCheckBox(QStringLiteral("other"), Client());
    FormCreate();
  }
  static QString KeyName() { return "kesl " + GetVersionText(false).toLower(); }
  ~TTestForm() override { FormDestroy(); }
  void StartWork() override { ++Started; }
  void AbortWork() override { ++Aborted; }
  using TUtilMainForm::FormDestroy;
  QString Status() const { return StatusText(); }

  QCheckBox* Other;
  int Started = 0;
  int Aborted = 0;
};

class UtilMainTest : public testing::Test {
 protected:
  void SetUp() override { TUtilMainForm::SetInitialApplicationTitle(QStringLiteral("Kesl")); }
  TTempSettings FSettings;
  TFakeDialogs FDialogs;
};

}  // namespace

TEST_F(UtilMainTest, TitleCarriesTheVersion) {
  TTestForm f;
  const QString version = TUtilMainForm::GetVersionText(false);
  EXPECT_TRUE(version.startsWith("v1.0.0 (build ")) << version.toStdString();
  EXPECT_TRUE(version.endsWith(" )"));
  EXPECT_EQ(TUtilMainForm::GetVersionText(true), "1.0.0");
  EXPECT_EQ(f.windowTitle(), "Kesl " + version);
  EXPECT_EQ(TUtilMainForm::ApplicationTitle(), f.windowTitle());
  // The frame's own key name: the title, trimmed and lower-cased.
  EXPECT_EQ(f.GetSettingsKeyName(), TTestForm::KeyName());
}

TEST_F(UtilMainTest, PlacementIsSavedOnlyForANormalWindow) {
  {
    TTestForm f;
    f.move(40, 50);
    f.resize(600, 400);
    f.FormDestroy();
  }
  const QString key = TTestForm::KeyName();
  auto s = FSettings.Open(key);
  EXPECT_EQ(s.value("Left").toInt(), 40);
  EXPECT_EQ(s.value("Top").toInt(), 50);
  EXPECT_EQ(s.value("Width").toInt(), 600);
  EXPECT_EQ(s.value("State").toInt(), 0);
  {
    TTestForm f;
    EXPECT_EQ(f.pos(), QPoint(40, 50));
    EXPECT_EQ(f.size(), QSize(600, 400));
    f.setWindowState(Qt::WindowMaximized);
    f.FormDestroy();
  }
  auto s2 = FSettings.Open(key);
  EXPECT_EQ(s2.value("State").toInt(), 2);
  EXPECT_EQ(s2.value("Left").toInt(), 40);  // the earlier placement stays
  EXPECT_EQ(s2.value("Top").toInt(), 50);
  TTestForm again;
  EXPECT_TRUE(again.windowState() & Qt::WindowMaximized);
}

TEST_F(UtilMainTest, BadSettingsValuesAreReportedAndTheWindowOpens) {
  {
    auto s = FSettings.Open(TTestForm::KeyName());
    s.setValue("State", "abc");
    s.setValue("Top", 7);
  }
  TTestForm f;
  ASSERT_EQ(FDialogs.Errors.size(), 1);
  EXPECT_EQ(FDialogs.Errors[0], "Invalid data type for 'State'");
  EXPECT_NE(f.y(), 7);  // nothing after the bad value is read
  {
    auto s = FSettings.Open(f.GetSettingsKeyName());
    s.setValue("State", "a long string value");
  }
  TTestForm g;
  EXPECT_EQ(FDialogs.Errors.last(), "Failed to get data for 'State'");
}

TEST_F(UtilMainTest, BusyStateAndProgress) {
  TTestForm f;
  const QString title = f.windowTitle();
  f.BeginBusy();
  EXPECT_TRUE(f.Busy());
  EXPECT_EQ(f.StartButton->text(), "Abort");
  EXPECT_TRUE(f.StartButton->isEnabled());
  EXPECT_TRUE(f.CloseButton->isEnabled());  // leaving always leaves
  EXPECT_FALSE(f.Other->isEnabled());
  EXPECT_EQ(f.Progress(), -1);
  EXPECT_TRUE(f.SetProgress(0));  // the first report always counts
  EXPECT_EQ(f.windowTitle(), "0.0%");
  EXPECT_FALSE(f.SetProgress(0));
  EXPECT_TRUE(f.SetProgress(1234));
  EXPECT_EQ(f.windowTitle(), "123.4%");
  EXPECT_FALSE(f.SetProgress(1234));
  f.EndBusy();
  EXPECT_FALSE(f.Busy());
  EXPECT_EQ(f.StartButton->text(), "&Start");
  EXPECT_TRUE(f.CloseButton->isEnabled());
  EXPECT_TRUE(f.Other->isEnabled());
  EXPECT_EQ(f.windowTitle(), title);
}

TEST_F(UtilMainTest, ProgressIsAProgressBarToAssistiveTechnology) {
  TTestForm f;
  auto* panel = f.findChild<QWidget*>("ProgressPanel");
  ASSERT_TRUE(panel);
  QAccessibleInterface* a = QAccessible::queryAccessibleInterface(panel);
  ASSERT_TRUE(a);
  EXPECT_EQ(a->role(), QAccessible::ProgressBar);
  EXPECT_EQ(a->text(QAccessible::Name), "Progress");
  QAccessibleValueInterface* value = a->valueInterface();
  ASSERT_TRUE(value);
  EXPECT_FALSE(value->currentValue().isValid());  // idle
  EXPECT_EQ(value->maximumValue().toInt(), 1000);
  f.BeginBusy();
  f.SetProgress(425);
  EXPECT_EQ(value->currentValue().toInt(), 425);
  EXPECT_EQ(a->text(QAccessible::Value), "42.5%");
  f.EndBusy();
  EXPECT_FALSE(value->currentValue().isValid());
}

TEST_F(UtilMainTest, StartButtonStartsOrAsksToAbort) {
  TTestForm f;
  f.StartButton->click();
  EXPECT_EQ(f.Started, 1);
  f.BeginBusy();
  FDialogs.Answers = {false};
  f.StartButton->click();
  EXPECT_EQ(f.Aborted, 0);
  EXPECT_TRUE(f.Busy());
  FDialogs.Answers = {true};
  f.StartButton->click();
  EXPECT_EQ(f.Aborted, 1);
  EXPECT_TRUE(f.Busy());  // the work itself leaves the busy state
  EXPECT_EQ(FDialogs.Questions[0], "Confirm|You really want to abort?|&Yes|Cancel");
  EXPECT_EQ(f.Started, 1);
}

TEST_F(UtilMainTest, ProgressBarPaintsInvertedText) {
  TTestForm f;
  f.BeginBusy();
  f.SetProgress(1000);
  QImage img(100, 20, QImage::Format_RGB32);
  img.fill(Qt::black);
  {
    QPainter p(&img);
    f.StatusBarDrawPanel(p, img.rect());
  }
  const QRgb hi = f.palette().color(QPalette::Highlight).rgb();
  EXPECT_EQ(img.pixel(0, 0), hi);
  EXPECT_EQ(img.pixel(99, 19), hi);
  f.SetProgress(500);
  {
    QPainter p(&img);
    f.StatusBarDrawPanel(p, img.rect());
  }
  EXPECT_EQ(img.pixel(1, 1), hi);
  EXPECT_EQ(img.pixel(98, 1), f.palette().color(QPalette::HighlightedText).rgb());
  f.EndBusy();
}

TEST_F(UtilMainTest, AboutLinkUnderlinesAndOpensTheAboutBoxOnAClickInsideOnly) {
  TTestForm f;
  f.show();
  QLabel* label = f.AboutLabel;
  QTest::mouseMove(label, QPoint(10, 10));
  QMouseEvent in(QEvent::MouseMove, QPointF(10, 10), label->mapToGlobal(QPointF(10, 10)),
                 Qt::NoButton, Qt::NoButton, Qt::NoModifier);
  QCoreApplication::sendEvent(label, &in);
  EXPECT_TRUE(label->font().underline());
  // Pressed on the label, dragged off it and let go there: nothing opens.
  QTest::mousePress(label, Qt::LeftButton, {}, QPoint(10, 10));
  QMouseEvent out(QEvent::MouseMove, QPointF(-40, 10), label->mapToGlobal(QPointF(-40, 10)),
                  Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(label, &out);
  EXPECT_FALSE(label->font().underline());
  QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(-40, 10));
  EXPECT_TRUE(FDialogs.Abouts.isEmpty());
  // A click on it opens the About box; no page (the maker's site has none).
  QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_FALSE(label->font().underline());
  ASSERT_EQ(FDialogs.Abouts.size(), 1);
  EXPECT_EQ(FDialogs.Abouts[0], "About Kesl|<b>Kesl</b> " + f.GetVersionText(false));
  EXPECT_TRUE(FDialogs.Opened.isEmpty());
}

TEST_F(UtilMainTest, UnwritableSettingsAreLeftSilently) {
  // The organisation's folder is a plain file: no key can be made.
  { std::ofstream(FSettings.Dir() + "/Velcor") << "not a folder"; }
  {
    TTestForm f;
    f.show();
    QTest::mouseClick(f.CloseButton, Qt::LeftButton);
    EXPECT_FALSE(f.isVisible());
  }
  EXPECT_TRUE(FDialogs.Errors.isEmpty()) << FDialogs.Errors.join('|').toStdString();
}

TEST_F(UtilMainTest, StoredPlaceOffEveryScreenIsNotRestored) {
  {
    auto s = FSettings.Open(TTestForm::KeyName());
    s.setValue("Left", -20000);
    s.setValue("Top", 15000);
    s.setValue("Width", 500);
    s.setValue("Height", 300);
  }
  TTestForm f;
  EXPECT_EQ(f.size(), QSize(500, 300));
  const QRect screen = f.screen()->availableGeometry();
  EXPECT_TRUE(screen.contains(f.geometry().center())) << f.x() << "," << f.y();
}

TEST_F(UtilMainTest, MemoryLine) {
  EXPECT_EQ(TUtilMainForm::MemoryText(12345678), " Memory used: 12,345,678");
}
