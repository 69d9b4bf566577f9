#include "keslmain/keslmain.h"

#include <algorithm>
#include <memory>
#include <thread>

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QLocale>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QThread>
#include <QTimer>

#include "dbbuild/update.h"
#include "ipdb/blocktext.h"
#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/registries.h"
#include "keslmain/blocklist.h"
#include "keslmain/updaterunner.h"
#include "tools/files.h"
#include "tools/finally.h"
#include "tools/resolve.h"
#include "tools/text.h"
#include "tools/tools.h"
#include "utilmain/dialogs.h"
#include "utilmain/settings.h"

namespace {

std::function<QDate()> gToday = [] { return QDate::currentDate(); };

// A host name resolved on a thread of its own, so that the window goes on
// (repaints, aborts, closes) while the name servers take their time. A job
// given up on is left to end by itself; what it finds is dropped.
struct TResolveJob {
  std::string Text;
  TQueryAddress Address;
  TResolveResult Result;
  std::atomic<bool> Done{false};
};
std::atomic<int> gResolving{0};

// The busy cursor while the window blocks, shown at once.
void SetWaitCursor(bool Wait) {
  if (Wait) {
    QApplication::setOverrideCursor(Qt::WaitCursor);
  } else {
    QApplication::restoreOverrideCursor();
  }
  QCoreApplication::processEvents();
}

QDate DayNumberDate(double DayNumber) {
  int32_t y, m, d;
  if (!DecodeDayNumber(static_cast<int32_t>(DayNumber), y, m, d)) return {};
  return QDate(y, m, d);
}

// Fills a drop-down list sorted by text, each entry carrying a code.
void FillSorted(QComboBox* Box, std::vector<std::pair<QString, uint16_t>> Entries) {
  std::stable_sort(Entries.begin(), Entries.end(), [](const auto& a, const auto& b) {
    return a.first.localeAwareCompare(b.first) < 0;
  });
  Box->clear();
  for (const auto& [text, code] : Entries) Box->addItem(text, QVariant::fromValue<uint>(code));
  Box->setCurrentIndex(-1);
}

}  // namespace

TKeslMainForm::~TKeslMainForm() {
  Database.reset();
  FormDestroy();
}

void TKeslMainForm::FormCreate() {
  MaskBox->setCurrentIndex(0);
  TUtilMainForm::FormCreate();
  SetDesignMinimumSize(415, 250);
}

QString TKeslMainForm::GetSettingsKeyName() { return QStringLiteral("kesl"); }

void TKeslMainForm::SaveSettings(TSettingsKey& Key) {
  Key.WriteInteger(QStringLiteral("Notation"), MaskBox->currentIndex());
}

void TKeslMainForm::LoadSettings(TSettingsKey& Key) {
  if (!Key.ValueExists(QStringLiteral("Notation"))) return;
  const int n = Key.ReadInteger(QStringLiteral("Notation"));
  MaskBox->setCurrentIndex(n >= 0 && n < MaskBox->count() ? n : -1);
}

void TKeslMainForm::AbortWork() { Aborted = true; }

void TKeslMainForm::SetToday(std::function<QDate()> Today) {
  gToday = Today ? std::move(Today) : [] { return QDate::currentDate(); };
}

QString TKeslMainForm::DatabaseFileName() const {
  if (!FDatabaseFileName.isEmpty()) return FDatabaseFileName;
  return QString::fromLocal8Bit(FindDatabase());
}

void TKeslMainForm::CheckError(int Code, const std::string& Message) {
  if (Code != 0) throw EKeslError(Message);
}

void TKeslMainForm::StartWork() {
  if (FLocating) return;
  FLocating = true;
  const TFinally reset([this] { FLocating = false; });

  const std::string text = IPEdit->text().toLocal8Bit().toStdString();
  // A failed locate leaves no answer behind.
  FAnswerBlock = nullptr;
  FAnswerBlock6 = nullptr;
  ShowAnswer();
  TQueryAddress address;
  TResolveResult resolved;
  uint32_t numeric = 0;
  TIPv6Address numeric6 = 0;
  const bool isNumeric = ParseNumericIPv4(text, numeric) || StrToIPv6(text, numeric6);
  if (isNumeric) {
    resolved = ResolveQuery(text, address, false);
  } else {
    auto job = std::make_shared<TResolveJob>();
    job->Text = text;
    {
      BeginBusy();
      Aborted = false;
      const TFinally end([this] { EndBusy(); });
      ++gResolving;
      std::thread([job] {
        job->Result = ResolveQuery(job->Text, job->Address, false);
        job->Done = true;
        --gResolving;
      }).detach();
      while (!job->Done && !Aborted) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        if (!job->Done) QThread::msleep(5);
      }
    }
    // Aborted, or the window closed: nothing more is said.
    if (Aborted) return;
    resolved = job->Result;
    address = job->Address;
  }
  CheckError(resolved.Code, resolved.Error);
  const std::string addressText = address.IsIPv6 ? IPv6ToStr(address.IPv6) : IPToStr(address.IPv4);
  IPEdit->setText(QString::fromLatin1(addressText));
  FAnswerAddress = QString::fromLatin1(addressText);
  FAnswerName = isNumeric ? QString() : QString::fromLocal8Bit(text);

  if (!Database && !OpenDatabase()) return;

  Family = address.IsIPv6 ? 6 : 4;
  TIPv4Block* block = nullptr;
  const TIPv6Block* block6 = nullptr;
  const int index =
      address.IsIPv6 ? Database->IPv6.Find(address.IPv6) : Database->FindBlock(address.IPv4);
  if (index >= 0 && address.IsIPv6) block6 = &Database->IPv6.Blocks[static_cast<size_t>(index)];
  if (index >= 0 && !address.IsIPv6) block = Database->BlockAt(index);
  if (index < 0) Dialogs().ShowMessage(this, tr("Unknown IP-segment"));
  std::optional<uint16_t> country;
  if (block) country = block->CountryCode;
  if (block6) country = block6->CountryCode;
  ShowBlocks(country, block, block6);
  FAnswerBlock = block;
  FAnswerBlock6 = block6;
  ShowAnswer();
  if (!country) return;
  WhoisURL =
      QString::fromStdString(WhoisPage(block ? block->CenterID : block6->CenterID, addressText));
  WhoisButton->setEnabled(!WhoisURL.isEmpty());
}

std::unique_ptr<TIPv4Database> TKeslMainForm::ReadDatabase(const QString& FileName,
                                                           QString* Error) {
  auto db = std::make_unique<TIPv4Database>();
  try {
    db->LoadFromFile(FileName.toLocal8Bit().toStdString());
  } catch (const std::exception& e) {
    if (Error) *Error = QString::fromLocal8Bit(e.what());
    return nullptr;
  }
  return db;
}

bool TKeslMainForm::OpenDatabase() {
  {
    SetWaitCursor(true);
    const TFinally done([] { SetWaitCursor(false); });
    // The file found now is the one in use, whatever the search path finds
    // later.
    const QString file = DatabaseFileName();
    Database = ReadDatabase(file);
    if (Database) {
      FDatabaseFileName = file;
      FillBoxes();
    }
  }
  if (!Database) {
    Dialogs().ShowMessage(this, tr("Can't load IP-to-country database (country.ip4)."));
    return false;
  }
  AgeCheck();
  return true;
}

void TKeslMainForm::FillBoxes() {
  std::vector<std::pair<QString, uint16_t>> domains, names;
  for (int i = 0; i < Database->CountryCount(); ++i) {
    const TIPv4Country* c = Database->CountryAt(i);
    // A country read from a binary file has no domain; its code stands in.
    const std::string& domain = c->Domain.empty() ? CodeToStr(c->Code) : c->Domain;
    domains.emplace_back(QString::fromLatin1(domain), c->Code);
    names.emplace_back(QString::fromLatin1(c->Name), c->Code);
  }
  FillSorted(DomainBox, std::move(domains));
  FillSorted(CountryBox, std::move(names));
}

void TKeslMainForm::AgeCheck() {
  const QDate today = gToday();
  if (!DatabaseIsOld(Database->Created, today.year(), today.month(), today.day())) return;
  if (Dialogs().Confirm(nullptr, tr("Confirm"),
                        tr("Your IP-to-country database is more than one month old.") +
                            QLatin1Char('\r') + tr("Does you want to check the newer database?"),
                        tr("&Yes"), tr("&No"))) {
    UpdateDatabase();
  }
}

bool TKeslMainForm::UpdateDatabase() {
  TUpdateOptions options;
  options.Base = FUpdateBase;
  options.Output = FUpdateOutput.empty() ? UserDatabasePath() : FUpdateOutput;
  if (options.Output.empty()) {
    Dialogs().ShowError(this, tr("The update has no place for the database: neither "
                                 "XDG_DATA_HOME nor HOME is set."));
    return false;
  }
  TUpdateResult result;
  {
    BeginBusy();
    Aborted = false;
    FUpdating = true;
    const TFinally end([this] {
      FUpdating = false;
      EndBusy();
    });
    FUpdateNote.clear();
    result = TUpdateRunner(Aborted).Run(
        options, [this](int PerMille, const std::string& Registry, uint64_t Received) {
          SetProgress(PerMille);
          // Which registry, and how much of its file: in the status line
          // and in the title, which the task bar shows.
          FUpdateNote = Registry.empty() ? tr("Updating the database")
                                         : tr("Updating the database: %1, %2 MB")
                                               .arg(QString::fromStdString(Registry))
                                               .arg(static_cast<double>(Received) / 1e6, 0, 'f', 1);
          SetApplicationTitle(FUpdateNote + QLatin1String(" - ") + PercentText(PerMille));
          ShowStatus();
        });
  }
  // What became of it stays in the status line until the next update.
  FUpdateNote = result.Status == usAborted  ? tr("Update aborted: the database in use stays")
                : result.Status == usFailed ? tr("Update failed: the database in use stays")
                                            : QString();
  ShowStatus();
  if (FCloseWhenUpdated) {
    // Closed during the update: nothing more is shown, and the window goes
    // as soon as the work that started the update has returned.
    QTimer::singleShot(0, this, [this] { close(); });
    return false;
  }
  const QString output = QString::fromLocal8Bit(options.Output);
  switch (result.Status) {
    case usAborted:
      return false;
    case usFailed:
      Dialogs().ShowError(this,
                          tr("The update failed: %1").arg(QString::fromLocal8Bit(result.Message)) +
                              QLatin1Char('\r') + tr("The database in use stays."));
      return false;
    case usCurrent:
      if (output == DatabaseFileName()) {
        Dialogs().ShowMessage(this, tr("The database is already current."));
        return false;
      }
      break;
    case usWritten:
      break;
  }
  QString error;
  std::unique_ptr<TIPv4Database> fresh = ReadDatabase(output, &error);
  if (!fresh) {
    Dialogs().ShowError(this, error);
    return false;
  }
  // The list and the answer show blocks of the old database: they go first.
  ShowBlocks(std::nullopt, nullptr);
  FAnswerBlock = nullptr;
  FAnswerBlock6 = nullptr;
  ShowAnswer();
  Database = std::move(fresh);
  FDatabaseFileName = output;
  FillBoxes();
  return true;
}

int TKeslMainForm::ResolutionsRunning() { return gResolving; }

void TKeslMainForm::closeEvent(QCloseEvent* Event) {
  // Leaving always leaves: a locate, a list being filled or a copy stops
  // here; only an update is asked about first.
  if (Busy() && !FUpdating) Aborted = true;
  if (FUpdating) {
    Event->ignore();
    if (FCloseWhenUpdated) return;
    // The update goes on beside the question; its answer counts only if
    // the update is still running.
    if (Dialogs().Confirm(this, tr("Confirm"),
                          tr("The database is being updated.") + QLatin1Char('\r') +
                              tr("Abort the update and close?"),
                          tr("&Yes"), tr("&No")) &&
        FUpdating) {
      FCloseWhenUpdated = true;
      Aborted = true;
    }
    return;
  }
  TUtilMainForm::closeEvent(Event);
}

QString TKeslMainForm::AboutText() {
  QString text = TUtilMainForm::AboutText() + QStringLiteral("<p>") +
                 tr("Database: %1").arg(DatabaseFileName().toHtmlEscaped());
  // Before the first locate the file is read for the box alone.
  std::unique_ptr<TIPv4Database> read;
  TIPv4Database* db = Database.get();
  if (!db) {
    QString error;
    read = ReadDatabase(DatabaseFileName(), &error);
    if (!read) return text + QStringLiteral("<br>") + error.toHtmlEscaped();
    db = read.get();
  }
  text += QStringLiteral("<br>") +
          tr("Created: %1").arg(QString::fromStdString(DayNumberText(db->Created)));
  if (db->Sources.empty()) {
    text += QStringLiteral("<br>") + tr("The file does not say where its data came from.");
  }
  for (const TSource& s : db->Sources) {
    text += QStringLiteral("<br>") +
            tr("Source: %1").arg(QString::fromStdString(SourceText(s)).toHtmlEscaped());
  }
  const TCountryKind kind = DatabaseCountryKind(db->Sources);
  text +=
      QStringLiteral("<br>") + tr("Countries: %1").arg(QString::fromLatin1(CountryKindText(kind)));
  return text;
}

void TKeslMainForm::SelectCode(QComboBox* Box, uint16_t Code) {
  for (int i = 0; i < Box->count(); ++i) {
    if (Box->itemData(i).toUInt() == Code) {
      Box->setCurrentIndex(i);
      return;
    }
  }
}

void TKeslMainForm::ShowBlocks(std::optional<uint16_t> Code, TIPv4Block* Block,
                               const TIPv6Block* Block6) {
  if (Code && ListedCountry == Code && ListedFamily == Family) {
    SelectBlockRows(*ListBox, *FModel, Block, Block6);
    return;
  }
  FModel->Clear();
  DomainBox->setCurrentIndex(-1);
  CountryBox->setCurrentIndex(-1);
  WhoisButton->setEnabled(false);
  ListedCountry = Code;
  ListedFamily = Family;
  FamilyLabel->setText(Family == 6 ? tr("IPv6 blocks") : tr("IPv4 blocks"));
  if (!Code) return;
  SelectCode(CountryBox, *Code);
  SelectCode(DomainBox, *Code);

  BeginBusy();
  Aborted = false;
  const TFinally end([this] {
    EndBusy();
    WhoisButton->setEnabled(false);
  });
  if (!Database) return;
  const std::vector<TIPv4Block*>* blocks = Family == 4 ? Database->CountryBlocks(*Code) : nullptr;
  const std::vector<const TIPv6Block*> blocks6 =
      Family == 6 ? Database->IPv6.CountryBlocks(*Code) : std::vector<const TIPv6Block*>();
  ListBox->setUpdatesEnabled(false);
  const TFinally resume([this, Block, Block6] {
    // Rows are shown in one go, also after an abort or an error.
    FModel->Publish();
    SelectBlockRows(*ListBox, *FModel, Block, Block6);
    ListBox->setUpdatesEnabled(true);
  });
  FModel->Fill(blocks, blocks6, [this](int PerMille) {
    if (!SetProgress(PerMille)) return false;
    QCoreApplication::processEvents();
    return Aborted.load();
  });
}

void TKeslMainForm::BoxChange(QComboBox* Box) {
  if (Box->currentIndex() >= 0) {
    ShowBlocks(static_cast<uint16_t>(Box->currentData().toUInt()), nullptr);
  } else {
    ShowBlocks(std::nullopt, nullptr);
  }
}

void TKeslMainForm::DomainBoxChange() { BoxChange(DomainBox); }

void TKeslMainForm::CountryBoxChange() { BoxChange(CountryBox); }

void TKeslMainForm::ShowAnswer() {
  if (!FAnswerBlock && !FAnswerBlock6) {
    AnswerLabel->clear();
    AnswerLabel->setToolTip({});
    return;
  }
  const auto notation = static_cast<TNotation>(MaskBox->currentIndex());
  const auto answer = [&](const auto& B) {
    const QString date = B.Date ? QString::fromStdString(Date8Text(B.Date)) : tr("date unknown");
    return tr("%1: %2 (%3), %4, %5, %6")
        .arg(
            FAnswerName.isEmpty() ? FAnswerAddress : tr("%1 (%2)").arg(FAnswerAddress, FAnswerName),
            QString::fromLatin1(B.Country->Name), QString::fromLatin1(CodeToStr(B.CountryCode)),
            QString::fromStdString(B.Center->Name), QString::fromStdString(B.AsText(notation)),
            date);
  };
  AnswerLabel->setText(FAnswerBlock ? answer(*FAnswerBlock) : answer(*FAnswerBlock6));
  // A long one is cut at the window's edge: whole in its tooltip.
  AnswerLabel->setToolTip(AnswerLabel->text());
}

void TKeslMainForm::MaskBoxChange() {
  FModel->SetNotation(static_cast<TNotation>(MaskBox->currentIndex()));
  ShowAnswer();
  // Rows take the width of the new widest text; the current row, which a
  // scroll bar may now cover, is kept in view.
  ListBox->doItemsLayout();
  if (ListBox->currentIndex().isValid()) ListBox->scrollTo(ListBox->currentIndex());
  ListBox->viewport()->update();
}

void TKeslMainForm::ListBoxDrawItem(int Index, const QRect& Rect, QPainter& Painter, bool Selected,
                                    bool Focused) {
  if (Index < 0 || Index >= FModel->Count()) return;
  const QPalette& pal = ListBox->palette();
  Painter.save();
  Painter.setClipRect(Rect);
  Painter.fillRect(Rect, pal.color(Selected ? QPalette::Highlight : QPalette::Base));
  Painter.setPen(pal.color(Selected ? QPalette::HighlightedText : QPalette::Text));
  Painter.drawText(Rect.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                   QString::fromLatin1(FModel->RowText(Index)));
  if (Focused) {
    QStyleOptionFocusRect o;
    o.rect = Rect;
    o.palette = pal;
    // Drawn also when the focus came by the mouse: styles draw the frame
    // only after a change of focus by the keyboard otherwise.
    o.state = QStyle::State_HasFocus | QStyle::State_KeyboardFocusChange;
    o.backgroundColor = pal.color(Selected ? QPalette::Highlight : QPalette::Base);
    ListBox->style()->drawPrimitive(QStyle::PE_FrameFocusRect, &o, &Painter, ListBox);
  }
  Painter.restore();
}

void TKeslMainForm::PopupMenuPopup() {
  SelectMenuItem->setEnabled(FModel->Count() > 0);
  CopyMenuItem->setEnabled(ListBox->selectionModel()->hasSelection());
}

void TKeslMainForm::SelectMenuItemClick() {
  ListBox->setUpdatesEnabled(false);
  ListBox->selectAll();
  ListBox->setUpdatesEnabled(true);
}

void TKeslMainForm::CopyMenuItemClick() {
  const bool whois = WhoisButton->isEnabled();
  BeginBusy();
  Aborted = false;
  const TFinally end([this, whois] {
    EndBusy();
    WhoisButton->setEnabled(whois);
  });
  QModelIndexList rows = ListBox->selectionModel()->selectedRows();
  std::sort(rows.begin(), rows.end(),
            [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
  std::vector<const TIPv4Block*> blocks;
  std::vector<const TIPv6Block*> blocks6;
  for (const QModelIndex& i : rows) {
    if (const TIPv4Block* b = FModel->BlockAt(i.row())) blocks.push_back(b);
    if (const TIPv6Block* b = FModel->Block6At(i.row())) blocks6.push_back(b);
  }
  const size_t count = blocks.size() + blocks6.size();
  const auto progress = [this, count](size_t Row) {
    if (!SetProgress(static_cast<int>(Row * 1000 / count))) return false;
    QCoreApplication::processEvents();
    return Aborted.load();
  };
  const std::string text = blocks6.empty()
                               ? BlocksText(blocks, FModel->Notation(), "\r\n", progress)
                               : BlocksTextOf(blocks6, FModel->Notation(), "\r\n", progress);
  QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
}

void TKeslMainForm::WhoisButtonClick() {
  if (Dialogs().OpenUrl(WhoisURL)) return;
  // Without a browser the page's address is shown, to be copied.
  Dialogs().ShowMessage(this, tr("No web browser could be started for the registry's page.") +
                                  QLatin1Char('\r') + tr("Its address: %1").arg(WhoisURL));
}

QString TKeslMainForm::AgeText(qint64 Days) {
  if (Days < 0) return tr("dated in the future");
  if (Days == 0) return tr("from today");
  if (Days == 1) return tr("1 day old");
  if (Days < 61) return tr("%1 days old").arg(Days);
  // Months of 30.44 days, rounded.
  return tr("%1 months old").arg((Days * 100 + 1522) / 3044);
}

void TKeslMainForm::TimerTimer() { ShowStatus(); }

void TKeslMainForm::ShowStatus() {
  ShowMemoryUsed();
  QString text = StatusText();
  if (Database) {
    const QDate created = DayNumberDate(Database->Created);
    text += tr(", Database created: %1").arg(QLocale().toString(created, QLocale::ShortFormat)) +
            QLatin1String(" (") + AgeText(created.daysTo(gToday())) + QLatin1Char(')');
  }
  if (!FUpdateNote.isEmpty()) text += QLatin1String(", ") + FUpdateNote;
  SetStatusText(text);
}
