// The locate: the address typed, read or resolved beside the event loop,
// the database opened on first use and its age asked about, the block
// found and its country listed.
#include <algorithm>
#include <atomic>
#include <memory>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>

#include "ipdb/countries.h"
#include "ipdb/database.h"
#include "ipdb/registries.h"
#include "ipdb/special.h"
#include "keslmain/background.h"
#include "keslmain/keslmain.h"
#include "tools/finally.h"
#include "tools/resolve.h"
#include "tools/tools.h"
#include "utilmain/dialogs.h"

namespace {

// A host name resolved on a thread of its own, so that the window goes on
// (repaints, aborts, closes) while the name servers take their time. A job
// given up on is left to end by itself; what it finds is dropped.
struct TResolveJob {
  std::string Text;
  TQueryAddress Address;
  TResolveResult Result;
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

// Fills a drop-down list sorted by text, each entry carrying a code.
void FillSorted(QComboBox* Box, std::vector<std::pair<QString, uint16_t>> Entries) {
  std::stable_sort(Entries.begin(), Entries.end(), [](const auto& a, const auto& b) {
    return a.first.localeAwareCompare(b.first) < 0;
  });
  Box->clear();
  for (const auto& [text, code] : Entries) Box->addItem(text, QVariant::fromValue<uint>(code));
  Box->setCurrentIndex(-1);
}

// A holder's AS numbers for the answer line: the first three and how many
// more.
QString ASNsText(const std::vector<TASNRecord>& Records) {
  QStringList shown;
  uint64_t all = 0;
  for (const TASNRecord& r : Records) {
    for (uint64_t as = r.First; as <= r.Last() && shown.size() < 3; ++as) {
      shown << QStringLiteral("AS%1").arg(as);
    }
    all += r.Count;
  }
  if (shown.isEmpty()) return {};
  const uint64_t more = all - static_cast<uint64_t>(shown.size());
  return more ? TKeslMainForm::tr("%1 and %n more", nullptr, static_cast<int>(more))
                    .arg(shown.join(QStringLiteral(", ")))
              : shown.join(QStringLiteral(", "));
}

}  // namespace

void TKeslMainForm::CheckError(int Code, const std::string& Message) {
  if (Code != 0) throw EKeslError(Message);
}

void TKeslMainForm::StartWork() {
  if (FLocating) return;
  FLocating = true;
  const TFinally reset([this] { FLocating = false; });

  // Several addresses (a line of a log pasted where a paste was not seen)
  // make a table, not a locate.
  if (HoldsManyAddresses(IPEdit->text())) {
    ShowAddressTable({}, IPEdit->text().toUtf8());
    return;
  }
  const std::string text = IPEdit->text().toLocal8Bit().toStdString();
  // A failed locate leaves no answer behind.
  FAnswerBlock = nullptr;
  FAnswerBlock6 = nullptr;
  FAnswerSpecial.clear();
  ShowAnswer();
  // Nor a whois page of the address before.
  WhoisURL.clear();
  WhoisButton->setEnabled(false);
  if (IPEdit->text().trimmed().isEmpty()) {
    Dialogs().ShowMessage(this, AnswerHint());
    return;
  }
  TQueryAddress address;
  TResolveResult resolved;
  uint32_t numeric = 0;
  TIPv6Address numeric6 = 0;
  // All ones is an address, though the numeric reader fails with it, as
  // kesl-lookup reads it.
  const bool allOnes = IsAllOnesIPv4(text);
  const bool isNumeric = allOnes || ParseNumericIPv4(text, numeric) || StrToIPv6(text, numeric6);
  if (allOnes) {
    address.IPv4 = 0xFFFFFFFFu;
  } else if (isNumeric) {
    resolved = ResolveQuery(text, address, false);
  } else if (const std::string why = ResolverRefusal(text); !why.empty()) {
    // As kesl-lookup: only what can be a host name goes to the resolver.
    resolved = {1, why};
  } else {
    auto job = std::make_shared<TResolveJob>();
    job->Text = text;
    {
      BeginBusy();
      Aborted = false;
      const TFinally end([this] { EndBusy(); });
      ++gResolving;
      // What the busy bar cannot tell, having no progress to show.
      FActivity = tr("Resolving %1\u2026").arg(QString::fromLocal8Bit(text));
      ShowStatus();
      const TFinally said([this] {
        FActivity.clear();
        ShowStatus();
      });
      RunBeside(
          [job] {
            job->Result = ResolveQuery(job->Text, job->Address, false);
            --gResolving;
          },
          [this] { return Aborted.load(); });
    }
    // Aborted, or the window closed: nothing more is said.
    if (Aborted) return;
    resolved = job->Result;
    address = job->Address;
  }
  CheckError(resolved.Code, resolved.Error);
  Remember(IPEdit->text().trimmed());
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
  const TSpecialRange* special =
      address.IsIPv6 ? FindSpecial(address.IPv6) : FindSpecial(address.IPv4);
  FAnswerSpecial =
      special ? QString::fromLatin1(special->Name.data(), static_cast<int>(special->Name.size()))
              : QString();
  FAnswerASNs.clear();
  if (index >= 0) {
    const TRegistryData& registry = Database->Registry;
    const auto at = static_cast<uint32_t>(index);
    const THolding holding = address.IsIPv6 ? registry.Holding6(at) : registry.Holding4(at);
    if (holding.Holder != kNoHolder) FAnswerASNs = ASNsText(registry.HolderASNs(holding.Holder));
  }
  // An address in no block is the message it always was; a special-purpose
  // one is named in the answer line besides.
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
  const QDate today = Today();
  if (!DatabaseIsOld(Database->Created, today.year(), today.month(), today.day())) return;
  if (Dialogs().Confirm(nullptr, tr("Confirm"),
                        tr("Your IP-to-country database is more than one month old.") +
                            QLatin1Char('\r') + tr("Does you want to check the newer database?"),
                        tr("&Yes"), tr("&No"))) {
    UpdateDatabase();
  }
}

int TKeslMainForm::ResolutionsRunning() { return gResolving; }
