// The locator window's controls: their layout and names, the tab order,
// the list's menu and shortcuts, and the keys the window takes itself.
#include <QAbstractItemView>
#include <QAction>
#include <QClipboard>
#include <QComboBox>
#include <QCompleter>
#include <QDropEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QStringListModel>
#include <QTimer>
#include <QToolButton>

#include "ipdb/database.h"
#include "keslmain/blocklist.h"
#include "keslmain/keslmain.h"
#include "utilmain/anchors.h"
#include "utilmain/elidedlabel.h"
#include "utilmain/focusring.h"

namespace {

// The caption the design's sizes were measured against, and its width in
// design pixels.
constexpr int kMeasureCaptionWidth = 113;
// The window's client area at the default size, in design pixels.
constexpr int kDesignWidth = 600;
constexpr int kDesignHeight = 317;

}  // namespace

TKeslMainForm::TKeslMainForm(QWidget* Parent)
    : TUtilMainForm(Parent, {tr("IP-address or Hostname"), kMeasureCaptionWidth}) {
  setObjectName(QStringLiteral("KeslMainForm"));
  QWidget* client = Client();
  auto name = [](QWidget* w, const char* n) {
    w->setObjectName(QLatin1String(n));
    return w;
  };

  MainPanel = new QFrame(client);
  name(MainPanel, "MainPanel");
  MainPanel->setFrameShape(QFrame::StyledPanel);
  Anchors().Add(MainPanel, QRect(8, 8, 426, 180), akLeft | akTop | akRight | akBottom);
  auto* panelAnchors = new TAnchors(MainPanel, QSize(426, 180), DesignScale());

  IPLabel = new QLabel(tr("IP-address or Hostname"), MainPanel);
  DomainLabel = new QLabel(tr("Domain"), MainPanel);
  CountryLabel = new QLabel(tr("&Country"), MainPanel);
  FamilyLabel = new QLabel(tr("IPv4 blocks"), MainPanel);
  FamilyLabel->setAlignment(Qt::AlignRight | Qt::AlignTop);
  IPEdit = new QLineEdit(QStringLiteral("127.0.0.1"), MainPanel);
  DomainBox = new QComboBox(MainPanel);
  CountryBox = new QComboBox(MainPanel);
  ListBox = new QListView(MainPanel);
  name(IPLabel, "IPLabel");
  name(DomainLabel, "DomainLabel");
  name(CountryLabel, "CountryLabel");
  name(FamilyLabel, "FamilyLabel");
  name(IPEdit, "IPEdit");
  name(DomainBox, "DomainBox");
  name(CountryBox, "CountryBox");
  name(ListBox, "ListBox");
  IPLabel->setBuddy(IPEdit);
  DomainLabel->setBuddy(DomainBox);
  CountryLabel->setBuddy(CountryBox);
  // The address has a row of its own, as wide as the window: a full IPv6
  // address (39 characters) fits at the default size. The country's
  // lists come under it.
  panelAnchors->Add(IPLabel, QRect(8, 8, 116, 14), akLeft | akTop);
  panelAnchors->Add(IPEdit, QRect(8, 24, 409, 22), akLeft | akRight | akTop);
  panelAnchors->Add(DomainLabel, QRect(8, 52, 35, 14), akLeft | akTop);
  panelAnchors->Add(CountryLabel, QRect(88, 52, 38, 14), akLeft | akTop);
  panelAnchors->Add(FamilyLabel, QRect(257, 52, 114, 14), akRight | akTop);
  // Switches the list to the country's blocks of the other family.
  FamilyButton = new QToolButton(MainPanel);
  name(FamilyButton, "FamilyButton");
  FamilyButton->setText(tr("IPv&6"));
  FamilyButton->setToolTip(tr("List the country's IPv6 blocks"));
  panelAnchors->Add(FamilyButton, QRect(375, 49, 42, 18), akRight | akTop);
  connect(FamilyButton, &QToolButton::clicked, this, [this] { FamilyButtonClick(); });
  panelAnchors->Add(DomainBox, QRect(8, 68, 73, 22), akLeft | akTop);
  panelAnchors->Add(CountryBox, QRect(88, 68, 329, 22), akLeft | akRight | akTop);
  // The answer in words, under the address row.
  // Cut with "…" when it does not fit; whole in its tooltip and in a copy.
  AnswerLabel = new TElidedLabel(MainPanel);
  name(AnswerLabel, "AnswerLabel");
  AnswerLabel->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  AnswerLabel->setTextFormat(Qt::PlainText);
  // A Tab stop, so that the keyboard can select and copy the answer.
  AnswerLabel->setFocusPolicy(Qt::StrongFocus);
  // Until the first locate, what to do.
  AnswerLabel->setText(AnswerHint());
  panelAnchors->Add(AnswerLabel, QRect(8, 94, 409, 16), akLeft | akTop | akRight);
  panelAnchors->Add(ListBox, QRect(8, 114, 409, 58), akLeft | akTop | akRight | akBottom);

  StartButton->setText(tr("&Locate"));
  WhoisButton = new QPushButton(tr("IP &Whois"), client);
  name(WhoisButton, "WhoisButton");
  WhoisButton->setEnabled(false);
  Anchors().Add(WhoisButton, QRect(88, 220, 75, 25), akLeft | akBottom);
  Anchors().Add(CloseButton, QRect(168, 220, 75, 25), akLeft | akBottom);
  MaskLabel = new QLabel(tr("IP Blocks notation:"), client);
  name(MaskLabel, "MaskLabel");
  Anchors().Add(MaskLabel, QRect(16, 196, 87, 14), akLeft | akBottom);
  MaskBox = new QComboBox(client);
  name(MaskBox, "MaskBox");
  MaskBox->addItems({tr("Start-stop range"), tr("Classless CIDR"), tr("Dotted decimal")});
  MaskLabel->setBuddy(MaskBox);
  Anchors().Add(MaskBox, QRect(112, 192, 321, 22), akLeft | akRight | akBottom);

  setTabOrder(IPEdit, DomainBox);
  setTabOrder(DomainBox, CountryBox);

  // The list: rows refer to blocks, drawn by ListBoxDrawItem.
  FModel = new TBlockListModel(this);
  ListBox->setModel(FModel);
  ListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
  ListBox->setUniformItemSizes(true);
  ListBox->setEditTriggers(QAbstractItemView::NoEditTriggers);
  const int rowHeight = std::max(Scaled(14), ListBox->fontMetrics().height() + 1);
  auto* delegate = new TBlockRowDelegate(ListBox, *FModel, rowHeight);
  delegate->SetDraw(
      [this](int Index, const QRect& Rect, QPainter& Painter, bool Selected, bool Focused) {
        ListBoxDrawItem(Index, Rect, Painter, Selected, Focused);
      });
  ListBox->setItemDelegate(delegate);

  PopupMenu = new QMenu(this);
  PopupMenu->setObjectName(QStringLiteral("PopupMenu"));
  CopyMenuItem = PopupMenu->addAction(tr("&Copy"));
  CopyMenuItem->setObjectName(QStringLiteral("CopyMenuItem"));
  CopyMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
  SelectMenuItem = PopupMenu->addAction(tr("Select &All"));
  SelectMenuItem->setObjectName(QStringLiteral("SelectMenuItem"));
  SelectMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
  for (QAction* a : {CopyMenuItem, SelectMenuItem}) {
    a->setShortcutContext(Qt::WidgetShortcut);
    ListBox->addAction(a);
  }
  // Saving works from anywhere in the window.
  PopupMenu->addSeparator();
  SaveMenuItem = PopupMenu->addAction(tr("&Save list as\u2026"));
  SaveMenuItem->setObjectName(QStringLiteral("SaveMenuItem"));
  SaveMenuItem->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  SaveMenuItem->setShortcutContext(Qt::WindowShortcut);
  addAction(SaveMenuItem);
  connect(SaveMenuItem, &QAction::triggered, this, [this] {
    try {
      SaveMenuItemClick();
    } catch (const std::exception& e) {
      ReportError(e);
    }
  });
  ListBox->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(ListBox, &QWidget::customContextMenuRequested, this, [this](const QPoint& Pos) {
    PopupMenuPopup();
    PopupMenu->exec(ListBox->viewport()->mapToGlobal(Pos));
  });
  connect(CopyMenuItem, &QAction::triggered, this, [this] {
    try {
      CopyMenuItemClick();
    } catch (const std::exception& e) {
      ReportError(e);
    }
  });
  connect(SelectMenuItem, &QAction::triggered, this, [this] { SelectMenuItemClick(); });
  // The shortcuts work while their item is available: the actions follow
  // the rows and the selection, not only the last popup. Where one is not
  // available, the list's own handling of the key is kept from it too.
  PopupMenuPopup();
  connect(ListBox->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          [this] { PopupMenuPopup(); });
  for (auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved}) {
    connect(FModel, signal, this, [this] { PopupMenuPopup(); });
  }
  connect(FModel, &QAbstractItemModel::modelReset, this, [this] { PopupMenuPopup(); });
  ListBox->installEventFilter(this);
  // The history under the address field, all of it whatever is typed.
  FHistoryModel = new QStringListModel(this);
  FHistoryCompleter = new QCompleter(FHistoryModel, this);
  FHistoryCompleter->setCompletionMode(QCompleter::UnfilteredPopupCompletion);
  // Opened by the keys only, not as one types.
  FHistoryCompleter->setWidget(IPEdit);
  connect(FHistoryCompleter, qOverload<const QString&>(&QCompleter::activated), IPEdit,
          &QLineEdit::setText);
  IPEdit->installEventFilter(this);

  UpdateButton = new QPushButton(tr("&Update database"), StatusBar);
  name(UpdateButton, "UpdateButton");
  UpdateButton->setFlat(true);
  UpdateButton->setFocusPolicy(Qt::StrongFocus);
  StatusBar->addPermanentWidget(UpdateButton);
  // Tab follows the layout: down the panel, the notation, the buttons, the
  // About link, then the status bar's button.
  setTabOrder(CountryBox, FamilyButton);
  setTabOrder(FamilyButton, AnswerLabel);
  setTabOrder(AnswerLabel, ListBox);
  setTabOrder(ListBox, MaskBox);
  setTabOrder(MaskBox, StartButton);
  setTabOrder(StartButton, WhoisButton);
  setTabOrder(WhoisButton, CloseButton);
  setTabOrder(CloseButton, AboutLabel);
  setTabOrder(AboutLabel, UpdateButton);
  // Controls that draw no focus of their own in every style get a frame
  // drawn around them.
  new TFocusRing(this, {AnswerLabel, ListBox, UpdateButton, AboutLabel});
  connect(UpdateButton, &QPushButton::clicked, this, [this] {
    // One piece of work at a time: a locate or an update in progress keeps
    // the window busy.
    if (!Busy()) UpdateDatabase();
  });

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(1000);
  connect(Timer, &QTimer::timeout, this, [this] { TimerTimer(); });
  Timer->start();

  // Only a choice by the user runs the change handlers.
  connect(DomainBox, &QComboBox::activated, this, [this] { DomainBoxChange(); });
  connect(CountryBox, &QComboBox::activated, this, [this] { CountryBoxChange(); });
  connect(MaskBox, &QComboBox::currentIndexChanged, this, [this] { MaskBoxChange(); });
  connect(WhoisButton, &QPushButton::clicked, this, [this] { WhoisButtonClick(); });

  // Names and descriptions for screen readers and other assistive
  // technology.
  const auto describe = [](QWidget* W, const QString& Name, const QString& Description) {
    W->setAccessibleName(Name);
    if (!Description.isEmpty()) W->setAccessibleDescription(Description);
  };
  describe(IPEdit, tr("IP address or host name"),
           tr("An IPv4 or IPv6 address or a host name to locate"));
  describe(DomainBox, tr("Domain"), tr("The country by its top-level domain"));
  describe(CountryBox, tr("Country"), tr("The country whose blocks are listed"));
  describe(FamilyButton, tr("Other family"),
           tr("Lists the country's blocks of the other address family"));
  describe(ListBox, tr("Blocks of the country"),
           tr("The address blocks of the country chosen, the located one selected"));
  describe(StartButton, tr("Locate"), tr("Locate the address, or stop the work in progress"));
  describe(WhoisButton, tr("IP Whois"), tr("Open the registry's page for the address"));
  describe(CloseButton, tr("Close"), {});
  describe(MaskBox, tr("IP blocks notation"), tr("How the blocks are written"));
  describe(AboutLabel, tr("About"), tr("Version, database and where its data came from"));
  describe(UpdateButton, tr("Update database"),
           tr("Download the registries' newest data and use it"));
  describe(AnswerLabel, tr("Answer"), tr("The located address, its country, registry and block"));

  // Taller than the frame's design by the address's own row and the
  // answer line, which the list keeps its height beside; wider, so that the
  // status line has room for the data's date and age.
  ApplyDesignSize(kDesignWidth, kDesignHeight);

  // A text or log file dropped anywhere on the window makes a table of its
  // addresses.
  setAcceptDrops(true);

  FormCreate();
  IPEdit->setFocus();
  // The first keystroke replaces the example address.
  IPEdit->selectAll();
}

void TKeslMainForm::keyPressEvent(QKeyEvent* Event) {
  // Keys that no control took come here, the way a dialog's default and
  // cancel buttons get them: Enter locates and Esc closes. A button with the
  // focus takes its own Enter. An open drop-down list keeps both keys: it
  // is a window of its own, so they never reach this one.
  const bool plain = (Event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
  if (plain && (Event->key() == Qt::Key_Return || Event->key() == Qt::Key_Enter)) {
    if (auto* button = qobject_cast<QAbstractButton*>(focusWidget())) {
      if (button->isEnabled()) button->click();
    } else if (StartButton->isEnabled()) {
      StartButtonClick();
    }
    return;
  }
  if (plain && Event->key() == Qt::Key_Escape) {
    if (CloseButton->isEnabled()) CloseButtonClick();
    return;
  }
  TUtilMainForm::keyPressEvent(Event);
}

bool TKeslMainForm::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == IPEdit && Event->type() == QEvent::KeyPress &&
      static_cast<QKeyEvent*>(Event)->matches(QKeySequence::Paste)) {
    // A paste of many addresses (a log's lines) makes a table of them.
    const QString text = QGuiApplication::clipboard()->text();
    if (HoldsManyAddresses(text)) {
      ShowAddressTable({}, text.toUtf8());
      return true;
    }
  }
  if (Watched == IPEdit && (Event->type() == QEvent::DragEnter || Event->type() == QEvent::Drop)) {
    // A file dropped on the field is the window's, as is a text of many
    // addresses; a single address the field takes.
    auto* drop = static_cast<QDropEvent*>(Event);
    const QMimeData* data = drop->mimeData();
    if (data && (data->hasUrls() || (data->hasText() && HoldsManyAddresses(data->text())))) {
      if (Event->type() == QEvent::DragEnter) {
        drop->acceptProposedAction();
      } else {
        dropEvent(drop);
      }
      return true;
    }
  }
  if (Watched == IPEdit && Event->type() == QEvent::KeyPress) {
    // Alt+Down, Up and Down open the history, as a combo box's list opens.
    const auto* key = static_cast<QKeyEvent*>(Event);
    const bool opens = key->key() == Qt::Key_Down || key->key() == Qt::Key_Up;
    if (opens && !FHistoryCompleter->popup()->isVisible() && !FHistory.isEmpty()) {
      FHistoryCompleter->setCompletionPrefix(QString());
      FHistoryCompleter->complete();
      return true;
    }
  }
  if (Watched == ListBox && Event->type() == QEvent::KeyPress) {
    // Copy and Select All come only from the actions: with an action
    // unavailable the list would otherwise copy its current row itself.
    const auto* key = static_cast<QKeyEvent*>(Event);
    if (key->matches(QKeySequence::Copy) || key->matches(QKeySequence::SelectAll)) return true;
  }
  return TUtilMainForm::eventFilter(Watched, Event);
}
