// The reusable main-window frame: Start/Abort and Close buttons, an about
// link, a status bar with a progress bar and the memory line, version text
// in the title, and the window's settings.
#pragma once

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QString>

class QLabel;
class QPushButton;
class QStatusBar;
class TAnchors;
class TSettingsKey;
class TProgressPanel;

// What a window's design sizes were measured against: a caption of the
// window and its width in design pixels, laid out for an 8 point dialog
// font whose lines are 14 pixels high. Without a caption only the line
// height counts.
struct TDesignMeasure {
  QString Caption;
  int CaptionWidth = 0;
};

// Per mille done as the title and the progress bar show it: "42.5%".
QString PercentText(int Progress);

class TUtilMainForm : public QMainWindow {
 public:
  explicit TUtilMainForm(QWidget* Parent = nullptr, const TDesignMeasure& Measure = {});
  ~TUtilMainForm() override;

  // The frame's five operations, overridden by a concrete window.
  virtual QString GetSettingsKeyName();
  virtual void SaveSettings(TSettingsKey& Key);
  virtual void LoadSettings(TSettingsKey& Key);
  virtual void StartWork() = 0;
  virtual void AbortWork() = 0;
  // The About box's text (rich text): the program's name and version; a
  // window adds what it knows.
  virtual QString AboutText();

  // The busy-work protocol: BeginBusy, SetProgress per item (it returns true
  // only when the per-mille value changed), EndBusy on every way out.
  void BeginBusy();
  void EndBusy();
  bool SetProgress(int Value);
  void ShowMemoryUsed();
  // " Memory used: 1,234,567" in the user's number format.
  static QString MemoryText(uint64_t Bytes);
  // Enables or disables every direct child control but the Start button.
  void EnableControls(bool Enabled);
  // "v1.0.0 (build 37 )" long, "1.0.0" short.
  static QString GetVersionText(bool Short);

  // The application title: "Kesl" at start, shown as the window's title.
  static QString ApplicationTitle();
  void SetApplicationTitle(const QString& Title);
  static void SetInitialApplicationTitle(const QString& Title);

  // Event handlers of the design.
  void StartButtonClick();
  void CloseButtonClick();
  void StatusBarDrawPanel(class QPainter& Painter, const QRect& Rect);
  void AboutLabelMouseMove(int X, int Y);
  void AboutLabelClick();

  bool Busy() const { return FBusy; }
  int Progress() const { return FProgress; }
  // MulDiv(Value, Dpi, 96) with rounding to the nearest.
  static int ScaleToDpi(int Value, double Dpi);
  // The factor that turns design pixels, laid out for an 8 point dialog
  // font, into pixels for the font in use (1 or more).
  double DesignScale() const { return FDesignScale; }
  int Scaled(int DesignPixels) const;

  QPushButton* StartButton;
  QPushButton* CloseButton;
  QLabel* AboutLabel;
  QStatusBar* StatusBar;

 protected:
  // Run at the end of the concrete window's constructor, when its virtual
  // operations are in place.
  virtual void FormCreate();
  // Saves the settings once; run on close and by the concrete destructor.
  void FormDestroy();
  void closeEvent(class QCloseEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

  // The area of the controls; design size 442 x 254 above the status bar.
  QWidget* Client() const { return FClient; }
  TAnchors& Anchors() const { return *FAnchors; }
  // Shows the message of an error that reached an event handler.
  void ReportError(const std::exception& E);
  void SetStatusText(const QString& Text);
  QString StatusText() const;
  // Sizes the window to the design client area plus the status bar.
  void ApplyDesignSize(int ClientWidth, int ClientHeight);
  void SetDesignMinimumSize(int Width, int Height);

 private:
  QWidget* FClient;
  double FDesignScale = 1.0;
  TAnchors* FAnchors;
  TProgressPanel* FProgressPanel;
  class TElidedLabel* FMemoryPanel;
  bool FBusy = false;
  QString SavedTitle;
  QString SavedStartCaption;
  int FProgress = -1;
  bool FAboutCaptured = false;
  bool FSettingsSaved = false;
  bool FPlacementLoaded = false;
  QPointer<QWidget> FFocusBeforeBusy;
  QElapsedTimer FTitleClock;
};
