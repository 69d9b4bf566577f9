// The window of a table of many addresses: filled on a thread beside the
// event loop from a log file or a pasted text, with its progress, Abort,
// Copy and Save as CSV.
#pragma once

#include <memory>
#include <thread>

#include <QWidget>

#include "tools/address.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class TAddressTableModel;
class TIPv4Database;

class TAddressTableWindow : public QWidget {
 public:
  // A window of its own over Parent, the blocks written in Notation, the
  // addresses looked up in Db (kept as long as the fill needs it).
  TAddressTableWindow(QWidget* Parent, std::shared_ptr<TIPv4Database> Db, TNotation Notation);
  // Stops a fill in progress and waits the moment it takes to end.
  ~TAddressTableWindow() override;

  // Fills the table from a file or a text; once only.
  void StartFile(const QString& Path);
  void StartText(const QByteArray& Text);
  bool Filling() const;
  // Stops the fill: the addresses found so far are shown.
  void AbortFill();

  TAddressTableModel* Model() const { return FModel; }
  // Rows of the table selected, in the table's order.
  std::vector<int> SelectedRows() const;
  void CopyRows();
  void SaveCsv();

  QTableView* Table;
  QLabel* Summary;  // what was read and found, or why nothing was
  QProgressBar* Progress;
  QPushButton* AbortButton;
  QPushButton* CopyButton;
  QPushButton* SaveButton;
  QPushButton* CloseButton;

 protected:
  void keyPressEvent(class QKeyEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  struct TJob;
  void Start(std::function<void(TJob&)> Read);
  // Shows the progress, and the rows once the thread is done.
  void Poll();

  std::shared_ptr<TIPv4Database> FDb;
  TNotation FNotation;
  TAddressTableModel* FModel;
  QTimer* FPoll;
  class QHBoxLayout* FButtons;
  std::shared_ptr<TJob> FJob;
  std::thread FThread;
  QString FSaveFolder;
};
