// The locator window: an address or host name in, the block, country and
// registry that hold it out, with the country's blocks listed.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <QDate>
#include <QString>
#include <QStringList>

#include "utilmain/utilmain.h"

class QAction;
class QComboBox;
class QFrame;
class QLineEdit;
class QListView;
class QMenu;
class QTimer;
class QToolButton;
class TBlockListModel;
class TIPv4Block;
class TIPv6Block;
class TIPv4Database;

class TKeslMainForm : public TUtilMainForm {
 public:
  explicit TKeslMainForm(QWidget* Parent = nullptr);
  ~TKeslMainForm() override;

  QString GetSettingsKeyName() override;
  void SaveSettings(TSettingsKey& Key) override;
  void LoadSettings(TSettingsKey& Key) override;
  // The locate: parse or resolve IPEdit, load the database on first use,
  // find the block and list its country. Never runs inside itself.
  void StartWork() override;
  void AbortWork() override;
  // Name and version, the database file in use, its date and where its data
  // came from.
  QString AboutText() override;

  // Raises an error with Message, the resolver's text, for a nonzero code.
  void CheckError(int Code, const std::string& Message);
  // Lists the blocks of a country (none empties the list) in the family of
  // the last locate, with Block's (or Block6's) row selected; for the
  // country already listed only the selection moves.
  void ShowBlocks(std::optional<uint16_t> Code, TIPv4Block* Block,
                  const TIPv6Block* Block6 = nullptr);

  void DomainBoxChange();
  void CountryBoxChange();
  void MaskBoxChange();
  void ListBoxDrawItem(int Index, const QRect& Rect, QPainter& Painter, bool Selected,
                       bool Focused);
  void PopupMenuPopup();
  void SelectMenuItemClick();
  void CopyMenuItemClick();
  // Saves the selected blocks, or all listed when none is selected, to a
  // file chosen in a file dialog: as lines in the notation shown, CSV, an
  // nftables or an ipset set, by the file type chosen. The file is written
  // whole or left as it was; an error box says why it could not be.
  void SaveMenuItemClick();
  void WhoisButtonClick();
  void TimerTimer();

  // A table of the addresses in a file (File) or a text (Text, when File
  // is empty), in a window of its own, filled beside the event loop. Opened
  // by a file or a text dropped on the window, a paste into the address
  // field or a locate of a field that holds several addresses.
  class TAddressTableWindow* ShowAddressTable(const QString& File, const QByteArray& Text = {});
  // Whether a text holds several addresses, or lines: a table's, not a
  // locate's.
  static bool HoldsManyAddresses(const QString& Text);

  // Renews the database from the registries in the busy state, the Start
  // button aborting; a new database is loaded in place of the old one. True
  // when a new one is in use; on failure an error box says why and the old
  // one stays.
  bool UpdateDatabase();

  // Test seams: the database file (default: the first of the search path),
  // where the update fetches from and writes to (default: the registries
  // and the user's database), and today's date.
  void SetDatabaseFileName(const QString& FileName) { FDatabaseFileName = FileName; }
  void SetUpdateSource(const std::string& Base, const std::string& Output) {
    FUpdateBase = Base;
    FUpdateOutput = Output;
  }
  QString DatabaseFileName() const;
  // What the answer line says before the first locate, and a locate of an
  // empty field.
  static QString AnswerHint();
  // Lists the country shown in the other family.
  void FamilyButtonClick();
  // The address field's history: the last kHistorySize queries that gave an
  // address, newest first, kept in the settings and offered in the field's
  // drop-down list (Alt+Down, Up or Down).
  static constexpr int kHistorySize = 20;
  const QStringList& History() const { return FHistory; }
  void Remember(const QString& Query);
  static void SetToday(std::function<QDate()> Today);
  // Host names still being resolved on their threads, those given up on
  // included; tests wait for none before their resolver goes.
  static int ResolutionsRunning();
  // How old data of Days days is, as the status line says it: in days up
  // to two months, then in months.
  static QString AgeText(qint64 Days);
  TBlockListModel* ListModel() const { return FModel; }

  QFrame* MainPanel;
  class QLabel* IPLabel;
  QLabel* DomainLabel;
  QLabel* CountryLabel;
  QLabel* FamilyLabel;        // which family the list holds
  QToolButton* FamilyButton;  // switches the list to the other family
  QLineEdit* IPEdit;
  // The answer of the last locate in words; empty after a failed one.
  class TElidedLabel* AnswerLabel;
  QComboBox* DomainBox;
  QComboBox* CountryBox;
  QListView* ListBox;
  class QPushButton* WhoisButton;
  QLabel* MaskLabel;
  // Renews the data from the registries at any time, beside the database's
  // date in the status bar.
  class QPushButton* UpdateButton;
  QComboBox* MaskBox;
  QTimer* Timer;
  QMenu* PopupMenu;
  QAction* CopyMenuItem;
  QAction* SelectMenuItem;
  QAction* SaveMenuItem;

  // Shared with the tables of many addresses while they are filled.
  std::shared_ptr<TIPv4Database> Database;
  std::atomic<bool> Aborted = false;  // also read by the update's thread
  QString WhoisURL;
  std::optional<uint16_t> ListedCountry;
  // The family of the last locate (4 or 6), which the boxes list, and of
  // the list shown.
  int Family = 4;
  int ListedFamily = 4;

 protected:
  void FormCreate() override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void dragEnterEvent(class QDragEnterEvent* Event) override;
  void dropEvent(class QDropEvent* Event) override;
  // While an update runs, asks whether to abort it: Yes aborts it and
  // closes the window once it has stopped, No leaves both running.
  void closeEvent(QCloseEvent* Event) override;

 private:
  // Today's date, as SetToday says.
  static QDate Today();
  // Loads the database in use on the first locate, fills the boxes and
  // asks about its age; false, after saying so, when it does not load.
  bool OpenDatabase();
  // A database loaded from FileName, or nullptr with the loader's message
  // in Error (when given).
  static std::unique_ptr<TIPv4Database> ReadDatabase(const QString& FileName,
                                                     QString* Error = nullptr);
  void FillBoxes();
  // The blocks of the list, or of its selected rows, in the list's order.
  void ListedBlocks(bool SelectedOnly, std::vector<const TIPv4Block*>& Blocks,
                    std::vector<const TIPv6Block*>& Blocks6) const;
  // The list's name, for its file and its firewall set: the country and
  // the family ("de4", "us6"), "kesl4" without a country.
  QString ListName() const;
  // The status line: memory, the database's date and age, the update.
  void ShowStatus();
  // AnswerLabel from the last locate's answer, in the notation chosen.
  void ShowAnswer();
  void AgeCheck();
  void SelectCode(QComboBox* Box, uint16_t Code);
  void BoxChange(QComboBox* Box);

  TBlockListModel* FModel;
  QString FDatabaseFileName;
  std::string FUpdateBase, FUpdateOutput;
  bool FLocating = false;
  bool FUpdating = false;
  // The update in progress, or how the last one ended when it left the
  // database as it was; shown in the status line.
  QString FUpdateNote;
  // What the window is waiting for, while it waits ("Resolving NAME…").
  QString FActivity;
  // The last locate's answer: the address, the name typed when one was
  // resolved, and the block found (in Database).
  QString FAnswerAddress, FAnswerName;
  // IANA's name of the special-purpose range that holds the address, and
  // the block's holder's AS numbers, when known.
  QString FAnswerSpecial, FAnswerASNs;
  QStringList FHistory;
  QString FSaveFolder;  // where the last list was saved
  class QStringListModel* FHistoryModel = nullptr;
  class QCompleter* FHistoryCompleter = nullptr;
  const TIPv4Block* FAnswerBlock = nullptr;
  const TIPv6Block* FAnswerBlock6 = nullptr;
  bool FCloseWhenUpdated = false;  // the update was aborted to close
};
