#include "keslmain/tablewindow.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

#include "ipdb/database.h"
#include "keslmain/addresstable.h"
#include "tools/finally.h"
#include "utilmain/savefile.h"

// What the fill's thread and the window share: the thread writes, the
// window reads the atomics as it goes and the rest once Done is true.
struct TAddressTableWindow::TJob {
  // Abort: the window goes, all work stops; Stop: the user's Abort, the
  // reading stops and what it found is still looked up and shown.
  std::atomic<bool> Abort = false;
  std::atomic<bool> Stop = false;
  bool Reading() const { return !Abort && !Stop; }
  // What the tally of the text read found.
  void Take(const TAddressTally& Tally) {
    Rows = Tally.Rows();
    Lines = Tally.Lines();
    Found = Tally.Found();
    LeftOut = Tally.LeftOut();
  }
  std::atomic<bool> Done = false;
  std::atomic<int> PerMille = 0;
  // Set by the thread before Done.
  std::vector<TAddressRow> Rows;
  uint64_t Lines = 0, Found = 0, LeftOut = 0;
  bool Stopped = false;
  QString Error;
};

TAddressTableWindow::TAddressTableWindow(QWidget* Parent, std::shared_ptr<TIPv4Database> Db,
                                         TNotation Notation)
    : QWidget(Parent, Qt::Window), FDb(std::move(Db)), FNotation(Notation) {
  setObjectName(QStringLiteral("AddressTableWindow"));
  // The locator window's close ends the program, whatever tables are open.
  setAttribute(Qt::WA_QuitOnClose, false);
  FModel = new TAddressTableModel(this);
  Table = new QTableView(this);
  Table->setObjectName(QStringLiteral("AddressTable"));
  Table->setModel(FModel);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setWordWrap(false);
  Table->verticalHeader()->hide();
  // Rows of one height and columns sized from their widest possible texts,
  // not by measuring a million rows.
  const QFontMetrics fm = Table->fontMetrics();
  Table->verticalHeader()->setDefaultSectionSize(fm.height() + 4);
  Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  Table->horizontalHeader()->resizeSection(
      0, fm.horizontalAdvance(QStringLiteral("ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff")) + 12);
  Table->horizontalHeader()->resizeSection(1, fm.horizontalAdvance(QStringLiteral("99,999,999")));
  Table->horizontalHeader()->resizeSection(
      2, fm.horizontalAdvance(QStringLiteral("US United States")) + 12);
  Table->horizontalHeader()->resizeSection(3, fm.horizontalAdvance(QStringLiteral("AFRINIC")) + 16);
  Table->horizontalHeader()->setStretchLastSection(true);
  Table->setSortingEnabled(true);
  Table->sortByColumn(0, Qt::AscendingOrder);
  Table->installEventFilter(this);
  Table->setAccessibleName(tr("Addresses found"));

  Summary = new QLabel(this);
  Summary->setObjectName(QStringLiteral("Summary"));
  Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  Progress = new QProgressBar(this);
  Progress->setObjectName(QStringLiteral("Progress"));
  Progress->setRange(0, 1000);
  Progress->setTextVisible(false);
  AbortButton = new QPushButton(tr("&Abort"), this);
  AbortButton->setObjectName(QStringLiteral("AbortButton"));
  CopyButton = new QPushButton(tr("&Copy"), this);
  CopyButton->setObjectName(QStringLiteral("CopyButton"));
  CopyButton->setToolTip(tr("Copy the selected rows as tab-separated lines (Ctrl+C)"));
  SaveButton = new QPushButton(tr("&Save as CSV\u2026"), this);
  SaveButton->setObjectName(QStringLiteral("SaveButton"));
  SaveButton->setToolTip(tr("Save every row as CSV (Ctrl+S)"));
  CloseButton = new QPushButton(tr("Close"), this);
  CloseButton->setObjectName(QStringLiteral("CloseButton"));
  CopyButton->setEnabled(false);
  SaveButton->setEnabled(false);

  FButtons = new QHBoxLayout;
  auto* buttons = FButtons;
  buttons->addWidget(Progress, 1);
  buttons->addWidget(AbortButton);
  buttons->addWidget(CopyButton);
  buttons->addWidget(SaveButton);
  buttons->addWidget(CloseButton);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(Summary);
  layout->addWidget(Table, 1);
  layout->addLayout(buttons);

  // Ctrl+C in the table: see eventFilter.
  auto* save = new QAction(this);
  save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  save->setShortcutContext(Qt::WindowShortcut);
  addAction(save);
  connect(save, &QAction::triggered, this, [this] { SaveCsv(); });
  connect(CopyButton, &QPushButton::clicked, this, [this] { CopyRows(); });
  connect(SaveButton, &QPushButton::clicked, this, [this] { SaveCsv(); });
  connect(AbortButton, &QPushButton::clicked, this, [this] { AbortFill(); });
  connect(CloseButton, &QPushButton::clicked, this, [this] { close(); });
  connect(Table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    CopyButton->setEnabled(!Filling() && Table->selectionModel()->hasSelection());
  });

  FPoll = new QTimer(this);
  FPoll->setInterval(50);
  connect(FPoll, &QTimer::timeout, this, [this] { Poll(); });
  resize(fm.horizontalAdvance(QLatin1Char('0')) * 110, fm.height() * 30);
}

TAddressTableWindow::~TAddressTableWindow() {
  if (FJob) FJob->Abort = true;
  if (FThread.joinable()) FThread.join();
}

bool TAddressTableWindow::Filling() const { return FJob && !FJob->Done; }

void TAddressTableWindow::AbortFill() {
  if (FJob) FJob->Stop = true;
}

namespace {

// The text goes to the tally in pieces of this size: the abort and the
// progress are looked at between them.
constexpr size_t kPiece = 1 << 20;

}  // namespace

void TAddressTableWindow::StartFile(const QString& Path) {
  setWindowTitle(tr("Addresses in %1").arg(QFileInfo(Path).fileName()));
  Summary->setText(tr("Reading %1\u2026").arg(Path));
  const std::string path = Path.toLocal8Bit().toStdString();
  Start([path, Path](TJob& Job) {
    const auto failed = [&Job, &Path](int Error) {
      Job.Error =
          tr("%1 could not be read: %2").arg(Path, QString::fromLocal8Bit(std::strerror(Error)));
    };
    // Read as it comes: a pipe (a log being written) is answered as far as
    // it has gone, and an abort is seen within a tenth of a second even
    // while nothing comes.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return failed(errno);
    const TFinally closed([fd] { ::close(fd); });
    struct stat st {};
    if (fstat(fd, &st) != 0) return failed(errno);
    if (S_ISDIR(st.st_mode)) return failed(EISDIR);
    const uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    TAddressTally tally;
    std::vector<char> piece(kPiece);
    uint64_t read = 0;
    while (Job.Reading()) {
      pollfd ready{fd, POLLIN, 0};
      if (poll(&ready, 1, 100) == 0) continue;
      const ssize_t n = ::read(fd, piece.data(), piece.size());
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n < 0) return failed(errno);
      if (n == 0) break;
      tally.Feed(piece.data(), static_cast<size_t>(n));
      read += static_cast<uint64_t>(n);
      if (size > 0) Job.PerMille = static_cast<int>(std::min<uint64_t>(read * 900 / size, 900));
    }
    tally.Finish();
    Job.Take(tally);
  });
}

void TAddressTableWindow::StartText(const QByteArray& Text) {
  setWindowTitle(tr("Addresses pasted"));
  Start([Text](TJob& Job) {
    TAddressTally tally;
    for (qsizetype at = 0; at < Text.size() && Job.Reading();
         at += static_cast<qsizetype>(kPiece)) {
      tally.Feed(Text.constData() + at,
                 std::min<size_t>(kPiece, static_cast<size_t>(Text.size() - at)));
      Job.PerMille = static_cast<int>(at * 900 / Text.size());
    }
    tally.Finish();
    Job.Take(tally);
  });
}

void TAddressTableWindow::Start(std::function<void(TJob&)> Read) {
  if (FJob) return;
  FJob = std::make_shared<TJob>();
  // The thread has its own references to what it uses.
  FThread = std::thread([Job = FJob, Db = FDb, Read = std::move(Read)] {
    Read(*Job);
    if (Job->Error.isEmpty()) {
      // Rows stopped before their lookup are left out, not shown in no
      // block.
      Job->Rows.resize(LookUpRows(*Db, Job->Rows, Job->Abort));
    }
    Job->Stopped = !Job->Reading();
    Job->Done = true;
  });
  FPoll->start();
  Poll();
}

void TAddressTableWindow::Poll() {
  if (!FJob) return;
  AbortButton->setEnabled(!FJob->Done && FJob->Reading());
  Progress->setValue(FJob->PerMille);
  if (!FJob->Done) return;
  FPoll->stop();
  if (FThread.joinable()) FThread.join();
  Progress->setValue(1000);
  // The bar's room goes to the left of the buttons, which keep their size.
  Progress->hide();
  AbortButton->hide();
  FButtons->insertStretch(0, 1);
  TJob& job = *FJob;
  if (!job.Error.isEmpty()) {
    Summary->setText(job.Error);
    return;
  }
  // The names the rows need, from the database the rows were found in.
  std::map<uint16_t, QString> countries, registries;
  for (int i = 0; i < FDb->CountryCount(); ++i) {
    const TIPv4Country* c = FDb->CountryAt(i);
    countries[c->Code] = QString::fromLatin1(c->Name);
  }
  for (int i = 0; i < FDb->CenterCount(); ++i) {
    const TIPv4Center* c = FDb->CenterAt(i);
    registries[c->ID] = QString::fromLatin1(c->Name);
  }
  const QLocale locale;
  const size_t distinct = job.Rows.size();
  FModel->SetRows(std::move(job.Rows), std::move(countries), std::move(registries), FNotation);
  const int column = Table->horizontalHeader()->sortIndicatorSection();
  if (column != 0 || Table->horizontalHeader()->sortIndicatorOrder() != Qt::AscendingOrder) {
    FModel->sort(column, Table->horizontalHeader()->sortIndicatorOrder());
  }
  const auto counted = [&locale](uint64_t N, const QString& One, const QString& Many) {
    return locale.toString(static_cast<qulonglong>(N)) + QLatin1Char(' ') + (N == 1 ? One : Many);
  };
  QString text = tr("%1 (%2 in all) in %3")
                     .arg(counted(distinct, tr("different address"), tr("different addresses")),
                          locale.toString(static_cast<qulonglong>(job.Found)),
                          counted(job.Lines, tr("line"), tr("lines")));
  if (job.LeftOut) {
    text += tr("; %1 more different ones left out (the table holds %2)")
                .arg(locale.toString(static_cast<qulonglong>(job.LeftOut)),
                     locale.toString(static_cast<qulonglong>(TAddressTally::kMaxDistinct)));
  }
  if (job.Stopped) text += tr(", aborted: the text was read only in part");
  Summary->setText(text);
  SaveButton->setEnabled(FModel->Count() > 0);
  Table->setFocus();
}

std::vector<int> TAddressTableWindow::SelectedRows() const {
  std::vector<int> rows;
  for (const QModelIndex& i : Table->selectionModel()->selectedRows()) rows.push_back(i.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void TAddressTableWindow::CopyRows() {
  const std::vector<int> rows = SelectedRows();
  if (Filling() || rows.empty()) return;
  QGuiApplication::clipboard()->setText(QString::fromStdString(FModel->CopyText(rows)));
}

void TAddressTableWindow::SaveCsv() {
  if (Filling() || FModel->Count() == 0) return;
  const TSaveChoice choice =
      AskSaveFile(this, tr("Save as CSV"), {{tr("CSV (*.csv)"), QStringLiteral("csv")}},
                  FSaveFolder, QStringLiteral("addresses"));
  if (choice.File.isEmpty()) return;
  FSaveFolder = QFileInfo(choice.File).absolutePath();
  WriteFileWhole(this, choice.File, FModel->CsvText());
}

void TAddressTableWindow::keyPressEvent(QKeyEvent* Event) {
  if (Event->key() == Qt::Key_Escape && Event->modifiers() == Qt::NoModifier) {
    close();
    return;
  }
  QWidget::keyPressEvent(Event);
}

bool TAddressTableWindow::eventFilter(QObject* Watched, QEvent* Event) {
  // Copy comes from the action only: the table would copy its current cell.
  if (Watched == Table && Event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(Event)->matches(QKeySequence::Copy)) {
    CopyRows();
    return true;
  }
  return QWidget::eventFilter(Watched, Event);
}
