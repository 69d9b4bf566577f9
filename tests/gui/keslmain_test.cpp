#include "keslmain/keslmain.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QtTest/QTest>

#include "guitest.h"
#include "ipv4base/ipv4base.h"
#include "ipv4base/ipv4writer.h"
#include "keslmain/blocklist.h"
#include "tools/tools.h"
#include "utilmain/maker.h"

namespace {

std::string TestDatabase(const char* Date = "20261115") {
  const std::vector<TIPv4Block> blocks = {
      MakeBlock(StrToIP("8.8.8.0"), 768, "US", kArinID),
      MakeBlock(StrToIP("8.8.11.0"), 256, "US", kArinID),
      MakeBlock(StrToIP("3.0.0.0"), 16777216, "US", kIanaID),
      MakeBlock(StrToIP("2.0.0.0"), 256, "GB", kRipeID),
      MakeBlock(StrToIP("1.0.0.0"), 256, "AU", kApnicID),
      MakeBlock(StrToIP("200.0.0.0"), 256, "BR", kLacnicID),
      MakeBlock(StrToIP("11.0.0.0"), 256, "--", kRipeID),
      MakeBlock(StrToIP("12.0.0.0"), 256, "TL", kApnicID),
      MakeBlock(StrToIP("5.1.0.0"), 256, "RS", kAfrinicID),
      MakeBlock(StrToIP("127.0.0.0"), 16777216, "JP", kApnicID)};
  TNewCountry rs;
  rs.Code = Code("RS");
  rs.Name = "Serbia";
  return EncodeDatabaseFile(true, cmZLib, Date,
                            EncodeBinBody({{kAfrinicID, "AFRINIC"}}, {rs}, blocks));
}

class KeslMainTest : public testing::Test {
 protected:
  void SetUp() override {
    TUtilMainForm::SetInitialApplicationTitle(QStringLiteral("Kesl"));
    TKeslMainForm::SetToday([] { return QDate(2026, 12, 7); });
    FDbPath = QString::fromStdString(FDir.Write("country.ip4", TestDatabase()));
    FForm = std::make_unique<TKeslMainForm>();
    FForm->SetDatabaseFileName(FDbPath);
  }
  void TearDown() override { TKeslMainForm::SetToday(nullptr); }

  void Locate(const QString& Text) {
    FForm->IPEdit->setText(Text);
    FForm->StartButtonClick();
  }
  std::vector<uint32_t> RowStarts() const {
    std::vector<uint32_t> s;
    for (int i = 0; i < FForm->ListModel()->Count(); ++i)
      s.push_back(FForm->ListModel()->BlockAt(i)->StartIP);
    return s;
  }
  std::vector<int> SelectedRows() const {
    std::vector<int> rows;
    for (const QModelIndex& i : FForm->ListBox->selectionModel()->selectedIndexes())
      rows.push_back(i.row());
    std::sort(rows.begin(), rows.end());
    return rows;
  }
  void Choose(QComboBox* Box, const QString& Text) {
    Box->setCurrentIndex(Box->findText(Text));
    emit Box->activated(Box->currentIndex());
  }
  void Select(std::initializer_list<int> Rows) {
    FForm->ListBox->clearSelection();
    for (int r : Rows) {
      FForm->ListBox->selectionModel()->select(FForm->ListModel()->index(r),
                                               QItemSelectionModel::Select);
    }
  }

  TTempDir FDir;
  TTempSettings FSettings;
  TFakeDialogs FDialogs;
  TFakeResolver FResolver;
  QString FDbPath;
  std::unique_ptr<TKeslMainForm> FForm;
};

}  // namespace

TEST_F(KeslMainTest, StartsEmpty) {
  EXPECT_EQ(FForm->StartButton->text(), "&Locate");
  EXPECT_EQ(FForm->IPEdit->text(), "127.0.0.1");
  EXPECT_FALSE(FForm->WhoisButton->isEnabled());
  EXPECT_EQ(FForm->DomainBox->count(), 0);
  EXPECT_EQ(FForm->MaskBox->currentIndex(), 0);
  EXPECT_EQ(FForm->GetSettingsKeyName(), "kesl");
  for (const char* name :
       {"MainPanel", "IPLabel", "DomainLabel", "CountryLabel", "IPEdit", "DomainBox", "CountryBox",
        "ListBox", "WhoisButton", "MaskLabel", "MaskBox", "StartButton", "CloseButton",
        "AboutLabel", "Timer", "PopupMenu", "CopyMenuItem", "SelectMenuItem"}) {
    EXPECT_NE(FForm->findChild<QObject*>(name), nullptr) << name;
  }
}

TEST_F(KeslMainTest, SmallestWindowStillShowsEveryCaption) {
  FForm->show();
  FForm->resize(1, 1);
  QCoreApplication::processEvents();
  EXPECT_EQ(FForm->size(), FForm->minimumSize());
  // The design's minimum, 415 x 250, grows with the font: never smaller.
  EXPECT_GE(FForm->minimumWidth(), 415);
  EXPECT_GE(FForm->minimumHeight(), 250);
  for (QLabel* label :
       {FForm->IPLabel, FForm->DomainLabel, FForm->CountryLabel, FForm->MaskLabel}) {
    const QString shown = QString(label->text()).remove('&');
    EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(shown)) << shown.toStdString();
    EXPECT_LE(label->geometry().right(), label->parentWidget()->width()) << shown.toStdString();
  }
}

TEST_F(KeslMainTest, LocateListsTheCountryWithTheBlockSelected) {
  FDialogs.Answers = {false};
  Locate("8.8.8.8");
  ASSERT_TRUE(FForm->Database);
  EXPECT_EQ(FForm->IPEdit->text(), "8.8.8.8");
  EXPECT_EQ(RowStarts(), (std::vector<uint32_t>{0x03000000, 0x08080800, 0x08080B00}));
  EXPECT_EQ(SelectedRows(), std::vector<int>{1});
  EXPECT_EQ(FForm->CountryBox->currentText(), "United States");
  EXPECT_EQ(FForm->DomainBox->currentText(), "US");
  EXPECT_TRUE(FForm->WhoisButton->isEnabled());
  EXPECT_EQ(FForm->WhoisURL, "http://ws.arin.net/cgi-bin/whois.pl?queryinput=8.8.8.8");
  EXPECT_FALSE(FForm->Busy());
  EXPECT_EQ(FDialogs.Questions.size(), 1);  // the age check, once per load

  // The same country again: rows stay, only the selection moves.
  const TBlockListModel* model = FForm->ListModel();
  const TIPv4Block* firstRow = model->BlockAt(0);
  Locate("3.1.2.3");
  EXPECT_EQ(model->BlockAt(0), firstRow);
  EXPECT_EQ(SelectedRows(), std::vector<int>{0});
  EXPECT_EQ(FForm->WhoisURL, "http://ws.arin.net/cgi-bin/whois.pl?queryinput=3.1.2.3");
  EXPECT_EQ(FDialogs.Questions.size(), 1);

  FForm->WhoisButton->click();
  EXPECT_EQ(FDialogs.Opened, QStringList{FForm->WhoisURL});
}

TEST_F(KeslMainTest, NumericFormsAndHostNames) {
  FResolver.Addresses["dns.example"] = StrToIP("8.8.8.9");
  Locate("127.1");
  EXPECT_EQ(FForm->IPEdit->text(), "127.0.0.1");
  EXPECT_EQ(FForm->CountryBox->currentText(), "Japan");
  EXPECT_TRUE(FResolver.Asked.empty());  // numbers never reach the resolver
  Locate("dns.example");
  EXPECT_EQ(FForm->IPEdit->text(), "8.8.8.9");
  EXPECT_EQ(FForm->WhoisURL, "http://ws.arin.net/cgi-bin/whois.pl?queryinput=8.8.8.9");
  EXPECT_TRUE(FDialogs.Errors.isEmpty());
  // All ones is the numeric parser's failure value, so it is resolved.
  Locate("255.255.255.255");
  EXPECT_EQ(FResolver.Asked.back(), "255.255.255.255");
}

TEST_F(KeslMainTest, UnresolvedNameChangesNothing) {
  Locate("no-such-host.example");
  EXPECT_EQ(FDialogs.Errors, QStringList{"Name or service not known"});
  EXPECT_EQ(FForm->IPEdit->text(), "no-such-host.example");
  EXPECT_FALSE(FForm->Database);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(KeslMainTest, SystemErrorTextIsTheFailedCallsOwn) {
  // The resolver's text is taken when it fails; the busy cursor's event
  // processing that follows cannot change it.
  FResolver.Failures["host.example"] = {EAI_SYSTEM, ResolverErrorText(EAI_SYSTEM, ECONNREFUSED)};
  Locate("host.example");
  EXPECT_EQ(FDialogs.Errors, QStringList{"Connection refused"});
}

TEST_F(KeslMainTest, HostileAddressTexts) {
  const QString longText(100000, QLatin1Char('a'));
  const QString longName = QString(60, 'b') + "." + QString(60, 'c') + "." + QString(60, 'd') +
                           "." + QString(60, 'e') + "." + QString(60, 'f') + ".example";
  const QString control = QStringLiteral("exa\u0001mple\tcom\r\n");
  int errors = 0;
  for (const QString& text : {longText, longName, control}) {
    FForm->IPEdit->setText(text);
    const QString typed = FForm->IPEdit->text();  // the field holds at most 32,767 characters
    FForm->StartButtonClick();
    ASSERT_EQ(FDialogs.Errors.size(), ++errors) << text.size();
    EXPECT_EQ(FDialogs.Errors.last(), "Name or service not known");
    EXPECT_EQ(FForm->IPEdit->text(), typed);
    EXPECT_EQ(FResolver.Asked.back(), typed.toLocal8Bit().toStdString());
  }
  EXPECT_FALSE(FForm->Database);
  EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(KeslMainTest, LoadedDatabaseStaysWhenTheFileVanishes) {
  Locate("8.8.8.8");
  ASSERT_TRUE(FForm->Database);
  ASSERT_EQ(std::remove(FDbPath.toStdString().c_str()), 0);
  Locate("1.0.0.1");
  EXPECT_EQ(FForm->CountryBox->currentText(), "Australia");
  EXPECT_TRUE(FDialogs.Messages.isEmpty());
}

TEST_F(KeslMainTest, GarbageNotationSettingIsReported) {
  FForm.reset();
  FSettings.Open("kesl").setValue("Notation", "x\x01y");
  FForm = std::make_unique<TKeslMainForm>();
  EXPECT_EQ(FDialogs.Errors, QStringList{"Invalid data type for 'Notation'"});
  EXPECT_EQ(FForm->MaskBox->currentIndex(), 0);
}

TEST_F(KeslMainTest, MissingOrInvalidDatabase) {
  FForm->SetDatabaseFileName(FDir.Path("missing.ip4").c_str());
  Locate("127.1");
  EXPECT_EQ(FDialogs.Messages, QStringList{"Can't load IP-to-country database (country.ip4)."});
  EXPECT_EQ(FForm->IPEdit->text(), "127.0.0.1");
  EXPECT_FALSE(FForm->Database);
  EXPECT_EQ(FForm->DomainBox->count(), 0);
  FForm->SetDatabaseFileName(QString::fromStdString(FDir.Write("bad.ip4", "IPBB10")));
  Locate("8.8.8.8");
  EXPECT_EQ(FDialogs.Messages.size(), 2);
  EXPECT_FALSE(FForm->Database);
  // The next locate tries again, and a good file loads.
  FForm->SetDatabaseFileName(FDbPath);
  Locate("8.8.8.8");
  EXPECT_TRUE(FForm->Database);
  EXPECT_EQ(FDialogs.Messages.size(), 2);
}

TEST_F(KeslMainTest, AddressInNoBlock) {
  Locate("8.8.8.8");
  Locate("9.9.9.9");
  EXPECT_EQ(FDialogs.Messages, QStringList{"Unknown IP-segment"});
  EXPECT_EQ(FForm->ListModel()->Count(), 0);
  EXPECT_EQ(FForm->DomainBox->currentIndex(), -1);
  EXPECT_EQ(FForm->CountryBox->currentIndex(), -1);
  EXPECT_FALSE(FForm->WhoisButton->isEnabled());
  EXPECT_EQ(FForm->WhoisURL, "http://ws.arin.net/cgi-bin/whois.pl?queryinput=8.8.8.8");
}

TEST_F(KeslMainTest, AgeCheck) {
  FDialogs.Answers = {true};
  Locate("8.8.8.8");
  ASSERT_EQ(FDialogs.Questions.size(), 1);
  EXPECT_EQ(FDialogs.Questions[0],
            "Confirm|Your IP-to-country database is more than one month old.\r"
            "Does you want to check the newer database?|&Yes|&No");
  EXPECT_EQ(FDialogs.Opened, QStringList{QString(kMakerSite) + "/update"});
  EXPECT_EQ(FForm->ListModel()->Count(), 3);  // the locate goes on
}

TEST_F(KeslMainTest, NoAgeWarningOnTheFirstOfTheMonth) {
  TKeslMainForm::SetToday([] { return QDate(2026, 12, 1); });
  Locate("8.8.8.8");
  EXPECT_TRUE(FDialogs.Questions.isEmpty());
}

TEST_F(KeslMainTest, WhoisPagePerRegistry) {
  Locate("2.0.0.1");
  EXPECT_EQ(FForm->WhoisURL, "http://www.ripe.net/perl/whois?searchtext=2.0.0.1");
  Locate("5.1.0.1");  // AFRINIC, a registry without a page
  EXPECT_EQ(FForm->WhoisURL, "");
  EXPECT_FALSE(FForm->WhoisButton->isEnabled());
}

TEST_F(KeslMainTest, ASecondPressDuringALocateDoesNothing) {
  FForm->SetDatabaseFileName(FDir.Path("missing.ip4").c_str());
  FResolver.Addresses["localhost"] = StrToIP("127.0.0.1");
  FForm->IPEdit->setText("localhost");
  // The press waits in the queue until the locate processes events.
  QTimer::singleShot(0, FForm->StartButton, [this] { FForm->StartButton->click(); });
  FForm->StartButtonClick();
  QCoreApplication::processEvents();
  EXPECT_EQ(FDialogs.Messages.size(), 1);
}

TEST_F(KeslMainTest, NotationIsSavedAndRestored) {
  FForm->MaskBox->setCurrentIndex(2);
  FForm.reset();
  EXPECT_EQ(FSettings.Open("kesl").value("Notation").toInt(), 2);
  EXPECT_FALSE(FSettings.Open("kesl").contains("Top"));
  FForm = std::make_unique<TKeslMainForm>();
  EXPECT_EQ(FForm->MaskBox->currentIndex(), 2);
  FForm.reset();
  FSettings.Open("kesl").setValue("Notation", 7);
  FForm = std::make_unique<TKeslMainForm>();
  EXPECT_EQ(FForm->MaskBox->currentIndex(), -1);
}

TEST_F(KeslMainTest, CountriesWithoutDomainShowTheirCode) {
  Locate("8.8.8.8");
  const int rs = FForm->DomainBox->findText("RS");
  ASSERT_GE(rs, 0);
  EXPECT_EQ(FForm->DomainBox->itemData(rs).toUInt(), Code("RS"));
  EXPECT_EQ(FForm->DomainBox->findText(""), -1);
  EXPECT_EQ(FForm->DomainBox->count(), 251);
  // Sorted by text.
  for (int i = 1; i < FForm->CountryBox->count(); ++i) {
    EXPECT_LE(FForm->CountryBox->itemText(i - 1).localeAwareCompare(FForm->CountryBox->itemText(i)),
              0);
  }
}

TEST_F(KeslMainTest, BoxesFollowEachOther) {
  Locate("8.8.8.8");
  Choose(FForm->CountryBox, "Australia");
  EXPECT_EQ(FForm->DomainBox->currentText(), "AU");
  EXPECT_EQ(RowStarts(), std::vector<uint32_t>{0x01000000});
  EXPECT_TRUE(SelectedRows().empty());
  EXPECT_FALSE(FForm->WhoisButton->isEnabled());
  Choose(FForm->DomainBox, "UK");
  EXPECT_EQ(FForm->CountryBox->currentText(), "United Kingdom");
  EXPECT_EQ(RowStarts(), std::vector<uint32_t>{0x02000000});
}

TEST_F(KeslMainTest, SharedCodesShowTheFirstEntry) {
  Locate("8.8.8.8");
  Choose(FForm->DomainBox, "GG");
  EXPECT_EQ(FForm->DomainBox->currentText(), "FX");
  EXPECT_EQ(FForm->CountryBox->currentText(), "France, Metropolitan");
  EXPECT_EQ(RowStarts(), std::vector<uint32_t>{0x0B000000});
  Choose(FForm->DomainBox, "TP");
  EXPECT_EQ(FForm->DomainBox->currentText(), "TL");
  EXPECT_EQ(FForm->CountryBox->currentText(), "East Timor");
  EXPECT_EQ(RowStarts(), std::vector<uint32_t>{0x0C000000});
}

TEST_F(KeslMainTest, ChoosingTheListedCountryOnlyDeselects) {
  Locate("8.8.8.8");
  Choose(FForm->CountryBox, "United States");
  EXPECT_EQ(RowStarts().size(), 3u);
  EXPECT_TRUE(SelectedRows().empty());
  EXPECT_TRUE(FForm->WhoisButton->isEnabled());
}

TEST_F(KeslMainTest, NotationChangesRedrawRows) {
  Locate("8.8.8.8");
  const QModelIndex row = FForm->ListModel()->index(1);
  EXPECT_EQ(FForm->ListModel()->data(row, Qt::DisplayRole).toString(), "8.8.8.0 - 8.8.10.255");
  FForm->MaskBox->setCurrentIndex(1);
  EXPECT_EQ(FForm->ListModel()->data(row, Qt::DisplayRole).toString(), "8.8.8.0/23, 8.8.10.0/24");
  FForm->MaskBox->setCurrentIndex(-1);
  EXPECT_EQ(FForm->ListModel()->data(row, Qt::DisplayRole).toString(), "8.8.8.0 - 8.8.10.255");

  QImage blank(200, 20, QImage::Format_RGB32);
  blank.fill(Qt::magenta);
  QImage img = blank;
  {
    QPainter p(&img);
    FForm->ListBoxDrawItem(5, img.rect(), p, false, false);  // no such row
  }
  EXPECT_EQ(img, blank);
  {
    QPainter p(&img);
    FForm->ListBoxDrawItem(1, img.rect(), p, true, true);
  }
  EXPECT_EQ(img.pixel(1, 1), FForm->ListBox->palette().color(QPalette::Highlight).rgb());
  bool text = false;
  for (int x = 2; x < 60 && !text; ++x) {
    for (int y = 0; y < 20; ++y) {
      text |= img.pixel(x, y) == FForm->ListBox->palette().color(QPalette::HighlightedText).rgb();
    }
  }
  EXPECT_TRUE(text);
}

TEST_F(KeslMainTest, CopyPutsExactlyTheSelectedLines) {
  Locate("8.8.8.8");
  QClipboard* cb = QGuiApplication::clipboard();
  Select({0, 2});
  FForm->CopyMenuItemClick();
  EXPECT_EQ(cb->text(), "3.0.0.0 - 3.255.255.255\r\n8.8.11.0 - 8.8.11.255\r\n");
  Select({0, 1, 2});
  FForm->MaskBox->setCurrentIndex(1);
  FForm->CopyMenuItemClick();
  EXPECT_EQ(cb->text(), "3.0.0.0/8\r\n8.8.8.0/23\r\n8.8.10.0/24\r\n8.8.11.0/24\r\n");
  FForm->MaskBox->setCurrentIndex(2);
  Select({1});
  FForm->CopyMenuItemClick();
  EXPECT_EQ(cb->text(), "8.8.8.0 / 255.255.254.0\r\n8.8.10.0 / 255.255.255.0\r\n");
  EXPECT_TRUE(FForm->WhoisButton->isEnabled());  // kept through the copy
  Select({});
  FForm->CopyMenuItemClick();
  EXPECT_EQ(cb->text(), "");
}

TEST_F(KeslMainTest, MenuItemsFollowTheList) {
  FForm->PopupMenuPopup();
  EXPECT_FALSE(FForm->SelectMenuItem->isEnabled());
  EXPECT_FALSE(FForm->CopyMenuItem->isEnabled());
  Locate("8.8.8.8");
  FForm->PopupMenuPopup();
  EXPECT_TRUE(FForm->SelectMenuItem->isEnabled());
  EXPECT_TRUE(FForm->CopyMenuItem->isEnabled());
  FForm->SelectMenuItemClick();
  EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
  Select({});
  FForm->PopupMenuPopup();
  EXPECT_FALSE(FForm->CopyMenuItem->isEnabled());
}

TEST_F(KeslMainTest, KeyboardSelectAllAndCopyInTheList) {
  Locate("8.8.8.8");
  FForm->show();
  FForm->activateWindow();
  FForm->ListBox->setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(FForm.get()));
  QTest::keyClick(FForm->ListBox, Qt::Key_A, Qt::ControlModifier);
  EXPECT_EQ(SelectedRows(), (std::vector<int>{0, 1, 2}));
  QTest::keyClick(FForm->ListBox, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QGuiApplication::clipboard()->text(),
            "3.0.0.0 - 3.255.255.255\r\n8.8.8.0 - 8.8.10.255\r\n8.8.11.0 - 8.8.11.255\r\n");
  // Enter locates from anywhere in the window.
  FForm->IPEdit->setText("1.0.0.1");
  FForm->IPEdit->setFocus();
  QTest::keyClick(FForm->IPEdit, Qt::Key_Return);
  EXPECT_EQ(FForm->CountryBox->currentText(), "Australia");
}

TEST_F(KeslMainTest, AbortDuringAFillKeepsTheRowsSoFar) {
  Locate("8.8.8.8");
  Choose(FForm->CountryBox, "Australia");
  FDialogs.Answers = {true};
  // The press arrives when the fill first processes events.
  QTimer::singleShot(0, FForm->StartButton, [this] { FForm->StartButton->click(); });
  Choose(FForm->CountryBox, "United States");
  EXPECT_EQ(FDialogs.Questions.last(), "Confirm|You really want to abort?|&Yes|Cancel");
  EXPECT_EQ(RowStarts(), std::vector<uint32_t>{0x03000000});
  EXPECT_FALSE(FForm->Busy());
  EXPECT_EQ(FForm->ListedCountry, Code("US"));
  // A locate in that country moves the selection among those rows only.
  Locate("8.8.8.8");
  EXPECT_TRUE(SelectedRows().empty());
  // Another country and back rebuilds the list in full.
  Choose(FForm->CountryBox, "Australia");
  Choose(FForm->CountryBox, "United States");
  EXPECT_EQ(RowStarts().size(), 3u);
}

TEST_F(KeslMainTest, StatusLineShowsTheDatabaseDate) {
  FForm->TimerTimer();
  auto status = [this] {
    for (QLabel* l : FForm->StatusBar->findChildren<QLabel*>()) {
      if (l->text().startsWith(" Memory used: ")) return l->text();
    }
    return QString();
  };
  EXPECT_FALSE(status().isEmpty());
  EXPECT_FALSE(status().contains("Database created"));
  Locate("8.8.8.8");
  FForm->TimerTimer();
  EXPECT_TRUE(status().endsWith(", Database created: 11/15/26")) << status().toStdString();
}
