#include "utilmain/utilmain.h"

#include <cmath>
#include <malloc.h>

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>

#include "tools/version.h"
#include "utilmain/anchors.h"
#include "utilmain/dialogs.h"
#include "utilmain/elidedlabel.h"
#include "utilmain/maker.h"
#include "utilmain/settings.h"

namespace {

QString gApplicationTitle;

constexpr int kDesignClientWidth = 442;
constexpr int kDesignClientHeight = 273;
constexpr int kDesignStatusHeight = 19;

// Larger fonts than the design's widen the whole design alike, so that no
// caption is cut.
double FontScale(const QFont& Font, const TDesignMeasure& Measure) {
  const QFontMetrics fm(Font);
  const double wide = Measure.CaptionWidth > 0 ? fm.horizontalAdvance(Measure.Caption) /
                                                     static_cast<double>(Measure.CaptionWidth)
                                               : 1.0;
  const double high = fm.height() / 14.0;
  return std::max({1.0, wide, high});
}

// The title bar's middle must lie on a screen for the window to be reachable.
bool OnSomeScreen(const QRect& Frame) {
  const QPoint grip(Frame.left() + Frame.width() / 2, Frame.top() + 8);
  for (const QScreen* s : QGuiApplication::screens()) {
    if (s->availableGeometry().contains(grip)) return true;
  }
  return false;
}

constexpr qint64 kTitleInterval = 100;  // ms between title updates while busy

}  // namespace

QString PercentText(int Progress) {
  return QLocale().toString(Progress / 10.0, 'f', 1) + QLatin1Char('%');
}

// Status panel 0: empty text when idle, the progress bar while busy.
class TProgressPanel : public QWidget {
 public:
  explicit TProgressPanel(TUtilMainForm* Form) : QWidget(Form), FForm(Form) {
    setObjectName(QStringLiteral("ProgressPanel"));
    setAccessibleName(tr("Progress"));
  }
  void SetOwnerDrawn(bool OwnerDrawn) {
    FOwnerDrawn = OwnerDrawn;
    update();
  }
  // Per mille done while busy, -1 when idle or not known.
  int Value() const { return FOwnerDrawn ? FForm->Progress() : -1; }

 protected:
  void paintEvent(QPaintEvent*) override {
    if (!FOwnerDrawn) return;
    QPainter p(this);
    FForm->StatusBarDrawPanel(p, rect());
  }

 private:
  TUtilMainForm* FForm;
  bool FOwnerDrawn = false;
};

namespace {

// The hand-painted progress as assistive technology reads it: a progress
// bar whose value is the part done, in per mille.
class TAccessibleProgress : public QAccessibleWidget, public QAccessibleValueInterface {
 public:
  explicit TAccessibleProgress(QWidget* W) : QAccessibleWidget(W, QAccessible::ProgressBar) {}
  void* interface_cast(QAccessible::InterfaceType Type) override {
    if (Type == QAccessible::ValueInterface) return static_cast<QAccessibleValueInterface*>(this);
    return QAccessibleWidget::interface_cast(Type);
  }
  QString text(QAccessible::Text Kind) const override {
    const int v = Panel()->Value();
    if (Kind == QAccessible::Value) return v < 0 ? QString() : PercentText(v);
    return QAccessibleWidget::text(Kind);
  }
  QVariant currentValue() const override {
    const int v = Panel()->Value();
    return v < 0 ? QVariant() : QVariant(v);
  }
  void setCurrentValue(const QVariant&) override {}
  QVariant maximumValue() const override { return 1000; }
  QVariant minimumValue() const override { return 0; }
  QVariant minimumStepSize() const override { return 1; }

 private:
  const TProgressPanel* Panel() const { return static_cast<const TProgressPanel*>(widget()); }
};

QAccessibleInterface* ProgressAccessible(const QString&, QObject* Object) {
  if (auto* panel = dynamic_cast<TProgressPanel*>(Object)) return new TAccessibleProgress(panel);
  return nullptr;
}

}  // namespace

TUtilMainForm::TUtilMainForm(QWidget* Parent, const TDesignMeasure& Measure) : QMainWindow(Parent) {
  static const bool installed = [] {
    QAccessible::installFactory(ProgressAccessible);
    return true;
  }();
  (void)installed;
  setObjectName(QStringLiteral("UtilMainForm"));
  FClient = new QWidget(this);
  setCentralWidget(FClient);
  FDesignScale = FontScale(font(), Measure);
  FAnchors = new TAnchors(
      FClient, QSize(kDesignClientWidth, kDesignClientHeight - kDesignStatusHeight), FDesignScale);

  StartButton = new QPushButton(tr("&Start"), FClient);
  StartButton->setObjectName(QStringLiteral("StartButton"));
  FAnchors->Add(StartButton, QRect(8, 220, 75, 25), akLeft | akBottom);
  CloseButton = new QPushButton(tr("Close"), FClient);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  FAnchors->Add(CloseButton, QRect(96, 220, 75, 25), akLeft | akBottom);
  AboutLabel = new QLabel(
      QString::fromLatin1(kMakerNotice) + QLatin1Char('\n') + QString::fromLatin1(kMakerAddress),
      FClient);
  AboutLabel->setObjectName(QStringLiteral("AboutLabel"));
  AboutLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  AboutLabel->setCursor(Qt::PointingHandCursor);
  AboutLabel->setMouseTracking(true);
  // The link takes the keyboard too: Tab reaches it, Enter or Space opens it.
  AboutLabel->setFocusPolicy(Qt::StrongFocus);
  AboutLabel->installEventFilter(this);
  FAnchors->Add(AboutLabel, QRect(287, 220, 145, 28), akRight | akBottom);
  setTabOrder(StartButton, CloseButton);

  StatusBar = statusBar();
  StatusBar->setObjectName(QStringLiteral("StatusBar"));
  FProgressPanel = new TProgressPanel(this);
  FProgressPanel->setFixedWidth(Scaled(100));
  FMemoryPanel = new TElidedLabel(StatusBar);
  StatusBar->addWidget(FProgressPanel);
  StatusBar->addWidget(FMemoryPanel, 1);

  connect(StartButton, &QPushButton::clicked, this, [this] { StartButtonClick(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { CloseButtonClick(); });
  ApplyDesignSize(kDesignClientWidth, kDesignClientHeight);
}

TUtilMainForm::~TUtilMainForm() = default;

void TUtilMainForm::ApplyDesignSize(int ClientWidth, int ClientHeight) {
  resize(Scaled(ClientWidth),
         Scaled(ClientHeight - kDesignStatusHeight) + StatusBar->sizeHint().height());
}

int TUtilMainForm::Scaled(int DesignPixels) const {
  return static_cast<int>(std::lround(DesignPixels * FDesignScale));
}

void TUtilMainForm::SetDesignMinimumSize(int Width, int Height) {
  const double dpi = screen() ? screen()->logicalDotsPerInch() : 96.0;
  setMinimumSize(ScaleToDpi(Scaled(Width), dpi), ScaleToDpi(Scaled(Height), dpi));
}

int TUtilMainForm::ScaleToDpi(int Value, double Dpi) {
  return static_cast<int>(std::lround(Value * Dpi / 96.0));
}

QString TUtilMainForm::ApplicationTitle() { return gApplicationTitle; }

void TUtilMainForm::SetInitialApplicationTitle(const QString& Title) { gApplicationTitle = Title; }

void TUtilMainForm::SetApplicationTitle(const QString& Title) {
  gApplicationTitle = Title;
  // The task bar shows the window's title on Linux desktops.
  setWindowTitle(Title);
}

QString TUtilMainForm::GetVersionText(bool Short) {
  if (Short)
    return QStringLiteral("%1.%2.%3")
        .arg(kProgramVersionMajor)
        .arg(kProgramVersionMinor)
        .arg(kProgramVersionRelease);
  return QStringLiteral("v%1.%2.%3 (build %4 )")
      .arg(kProgramVersionMajor)
      .arg(kProgramVersionMinor)
      .arg(kProgramVersionRelease)
      .arg(kProgramVersionBuild);
}

QString TUtilMainForm::GetSettingsKeyName() {
  QString t = ApplicationTitle();
  while (!t.isEmpty() && t.front().unicode() <= ' ') t.remove(0, 1);
  while (!t.isEmpty() && t.back().unicode() <= ' ') t.chop(1);
  return QLocale().toLower(t);
}

void TUtilMainForm::FormCreate() {
  SetApplicationTitle(ApplicationTitle() + QLatin1Char(' ') + GetVersionText(false));
  SetDesignMinimumSize(350, 250);
  try {
    TSettingsKey key(GetSettingsKeyName(), false);
    if (key.Exists()) LoadSettings(key);
  } catch (const std::exception& e) {
    ReportError(e);
  }
  if (!FPlacementLoaded && windowState() == Qt::WindowNoState && screen()) {
    move(screen()->availableGeometry().center() - rect().center());
  }
}

void TUtilMainForm::FormDestroy() {
  if (FSettingsSaved) return;
  FSettingsSaved = true;
  try {
    // A store that cannot be written counts as one that cannot be opened:
    // nothing is saved, and nothing is said.
    TSettingsKey key(GetSettingsKeyName(), true);
    if (!key.Exists()) return;
    SaveSettings(key);
  } catch (const std::exception& e) {
    ReportError(e);
  }
}

void TUtilMainForm::closeEvent(QCloseEvent* Event) {
  FormDestroy();
  QMainWindow::closeEvent(Event);
}

void TUtilMainForm::SaveSettings(TSettingsKey& Key) {
  const Qt::WindowStates s = windowState();
  if (!(s & (Qt::WindowMinimized | Qt::WindowMaximized))) {
    Key.WriteInteger(QStringLiteral("Top"), y());
    Key.WriteInteger(QStringLiteral("Left"), x());
    Key.WriteInteger(QStringLiteral("Width"), width());
    Key.WriteInteger(QStringLiteral("Height"), height());
  }
  Key.WriteInteger(QStringLiteral("State"),
                   s & Qt::WindowMinimized ? 1 : (s & Qt::WindowMaximized ? 2 : 0));
}

void TUtilMainForm::LoadSettings(TSettingsKey& Key) {
  if (Key.ValueExists(QStringLiteral("State"))) {
    const int state = Key.ReadInteger(QStringLiteral("State"));
    setWindowState(state == 1   ? Qt::WindowMinimized
                   : state == 2 ? Qt::WindowMaximized
                                : Qt::WindowNoState);
  }
  if (windowState() != Qt::WindowNoState) return;
  QRect g(pos(), size());
  bool moved = false;
  if (Key.ValueExists(QStringLiteral("Top"))) {
    g.moveTop(Key.ReadInteger(QStringLiteral("Top")));
    moved = true;
  }
  if (Key.ValueExists(QStringLiteral("Left"))) {
    g.moveLeft(Key.ReadInteger(QStringLiteral("Left")));
    moved = true;
  }
  if (Key.ValueExists(QStringLiteral("Width")))
    g.setWidth(Key.ReadInteger(QStringLiteral("Width")));
  if (Key.ValueExists(QStringLiteral("Height")))
    g.setHeight(Key.ReadInteger(QStringLiteral("Height")));
  resize(g.size());
  // A stored place on a screen that is gone (a monitor unplugged since)
  // would hide the window: then it is centred as if nothing was stored.
  if (moved && OnSomeScreen(g)) {
    move(g.topLeft());
    FPlacementLoaded = true;
  }
}

void TUtilMainForm::BeginBusy() {
  // Disabling the controls takes the focus away: note where it was. The
  // window's own focus child counts, also while a popup or another window
  // has the keyboard.
  FFocusBeforeBusy = focusWidget();
  FProgressPanel->SetOwnerDrawn(true);
  SavedStartCaption = StartButton->text();
  SavedTitle = ApplicationTitle();
  StartButton->setText(tr("Abort"));
  EnableControls(false);
  FBusy = true;
  FProgress = -1;
}

void TUtilMainForm::EndBusy() {
  FProgressPanel->SetOwnerDrawn(false);
  StartButton->setText(SavedStartCaption);
  SetApplicationTitle(SavedTitle);
  EnableControls(true);
  FBusy = false;
  // The focus goes back where it was, if that control can still take it.
  if (FFocusBeforeBusy && FFocusBeforeBusy->isEnabled() && FFocusBeforeBusy->isVisible()) {
    FFocusBeforeBusy->setFocus(Qt::OtherFocusReason);
  }
  FFocusBeforeBusy = nullptr;
}

void TUtilMainForm::EnableControls(bool Enabled) {
  // Start aborts and Close leaves while the window is busy.
  for (QWidget* w : FClient->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w != StartButton && w != CloseButton) w->setEnabled(Enabled);
  }
}

bool TUtilMainForm::SetProgress(int Value) {
  if (Value == FProgress) return false;
  const bool first = FProgress < 0;
  FProgress = Value;
  FProgressPanel->update();
  if (QAccessible::isActive()) {
    QAccessibleValueChangeEvent changed(FProgressPanel, Value);
    QAccessible::updateAccessibility(&changed);
  }
  // The title is the task bar's too: redrawn there about ten times a
  // second at most, however fast the work moves.
  if (first || Value >= 1000 || FTitleClock.elapsed() >= kTitleInterval) {
    SetApplicationTitle(PercentText(Value));
    FTitleClock.start();
  }
  return true;
}

void TUtilMainForm::StatusBarDrawPanel(QPainter& Painter, const QRect& Rect) {
  const int w = Rect.right() + 1 - Rect.left();
  if (w <= 0) return;
  // Busy before any progress is known (a host name being resolved): an
  // empty bar, not a negative percentage.
  if (FProgress < 0) return Painter.fillRect(Rect, palette().color(QPalette::HighlightedText));
  const QString text = PercentText(FProgress);
  const int filled = w * FProgress / 1000;
  const int offset = (w - Painter.fontMetrics().horizontalAdvance(text)) / 2;
  const QPalette pal = palette();
  const QColor highlight = pal.color(QPalette::Highlight);
  const QColor highlightText = pal.color(QPalette::HighlightedText);
  const QRect bar(Rect.left(), Rect.top(), filled, Rect.height());
  const QRect rest(Rect.left() + filled, Rect.top(), w - filled, Rect.height());
  const QRect textRect(Rect.left() + offset, Rect.top(), w, Rect.height());
  // Each part: its fill, and the text in the other colour, clipped to it.
  auto part = [&](const QRect& Area, const QColor& Fill, const QColor& Ink) {
    Painter.fillRect(Area, Fill);
    Painter.save();
    Painter.setClipRect(Area);
    Painter.setPen(Ink);
    Painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
    Painter.restore();
  };
  part(bar, highlight, highlightText);
  part(rest, highlightText, highlight);
}

QString TUtilMainForm::MemoryText(uint64_t Bytes) {
  return QStringLiteral(" Memory used: ") + QLocale().toString(static_cast<qulonglong>(Bytes));
}

void TUtilMainForm::ShowMemoryUsed() {
  // The heap's own count of allocated bytes, as the program sees its memory.
  // Large blocks come from mmap and are counted apart from the heap's own.
  const struct mallinfo2 heap = mallinfo2();
  SetStatusText(MemoryText(heap.uordblks + heap.hblkhd));
}

void TUtilMainForm::SetStatusText(const QString& Text) { FMemoryPanel->SetText(Text); }

QString TUtilMainForm::StatusText() const { return FMemoryPanel->text(); }

void TUtilMainForm::StartButtonClick() {
  try {
    if (!FBusy) {
      StartWork();
    } else if (Dialogs().Confirm(this, tr("Confirm"), tr("You really want to abort?"), tr("&Yes"),
                                 tr("Cancel"))) {
      AbortWork();
    }
  } catch (const std::exception& e) {
    ReportError(e);
  }
}

void TUtilMainForm::CloseButtonClick() { close(); }

void TUtilMainForm::ReportError(const std::exception& E) {
  Dialogs().ShowError(this, QString::fromLocal8Bit(E.what()));
}

void TUtilMainForm::AboutLabelMouseMove(int X, int Y) {
  const bool inside = X > 0 && X < AboutLabel->width() && Y > 0 && Y < AboutLabel->height();
  QFont f = AboutLabel->font();
  if (inside && !FAboutCaptured) {
    f.setUnderline(true);
    AboutLabel->setFont(f);
    FAboutCaptured = true;
  } else if (!inside && FAboutCaptured) {
    f.setUnderline(false);
    AboutLabel->setFont(f);
    FAboutCaptured = false;
  }
}

QString TUtilMainForm::AboutText() {
  return QStringLiteral("<b>%1</b> %2")
      .arg(QCoreApplication::applicationName(), GetVersionText(false).toHtmlEscaped());
}

void TUtilMainForm::AboutLabelClick() {
  FAboutCaptured = false;
  QFont f = AboutLabel->font();
  f.setUnderline(false);
  AboutLabel->setFont(f);
  Dialogs().ShowAbout(this, tr("About %1").arg(QCoreApplication::applicationName()), AboutText());
}

bool TUtilMainForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == AboutLabel) {
    switch (Event->type()) {
      case QEvent::MouseMove: {
        const QPoint p = static_cast<QMouseEvent*>(Event)->position().toPoint();
        AboutLabelMouseMove(p.x(), p.y());
        break;
      }
      case QEvent::Leave:
        AboutLabelMouseMove(-1, -1);
        break;
      case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(Event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
          AboutLabelClick();
          return true;
        }
        break;
      }
      case QEvent::MouseButtonRelease: {
        // A press dragged off the label and let go elsewhere opens nothing.
        const auto* mouse = static_cast<QMouseEvent*>(Event);
        if (mouse->button() == Qt::LeftButton &&
            AboutLabel->rect().contains(mouse->position().toPoint())) {
          AboutLabelClick();
        }
        break;
      }
      default:
        break;
    }
  }
  return QMainWindow::eventFilter(Watched, Event);
}
