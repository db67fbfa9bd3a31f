#include "gui/window/main_window.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QStackedWidget>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QVBoxLayout>
#include <QWhatsThis>
#include <array>

#include "app/body_display.h"
#include "app/check_cycle.h"
#include "app/kvmain.h"
#include "app/message_view_handlers.h"
#include "app/window_handlers.h"
#include "gui/dialogs/qt_text.h"
#include "gui/window/command_group.h"
#include "gui/window/communications_tab.h"
#include "gui/window/level_bar_delegate.h"
#include "gui/window/message_table_model.h"
#include "gui/window/message_tree_view.h"
#include "gui/window/timer_driver.h"
#include "notify/hint_display.h"

namespace kelvrin::gui {

namespace {

// The option items of the Options menu, in menu order.
constexpr std::array<const char*, 25> kOptionItems = {
    "MinCheck1",     "WinStart1",       "CloseToTray1",    "MinOnDel1",
    "SndEnable1",    "SndVoiceEnable1", "DelAll1",         "MenuSel",
    "NonInterDel1",  "AutoSR",          "Invasive1",       "TrayBalloonNotify1",
    "EmailBalloon1", "AllowCtrlDel",    "WarnDelNoSpam1",  "showcurrent_IP",
    "ExtraAdds1",    "RedialAll1",      "DisableScnsave1", "EnterDispBody1",
    "AutoUpdate1",   "ShowTips1",       "Hints1",          "FlashSent1",
    "HeaderCache1",
};

// The tray menu Popup2, in menu order.
constexpr std::array<const char*, 15> kTrayItems = {
    "Exit1",        "Help1", "GeneralOptions1", "N1", "DeleteAll1", "DeleteSpam1",
    "SendReceive1", "N2",    "MarkAll1",        "N3", "Disable1",   "Disconnect1",
    "CheckNow1",    "N6",    "ShowHide1",
};

app::WindowHandlers::Key windowKey(int key) {
  using K = app::WindowHandlers::Key;
  switch (key) {
    case Qt::Key_Escape:
      return K::Escape;
    case Qt::Key_Delete:
      return K::Delete;
    case Qt::Key_F1:
      return K::F1;
    case Qt::Key_F5:
      return K::F5;
    case Qt::Key_F9:
      return K::F9;
    default:
      return K::Other;
  }
}

}  // namespace

MainWindow::MainWindow(app::TKVmain& kv, QWidget* parent) : QMainWindow(parent), kv_(kv) {
  setObjectName(QStringLiteral("KVmain"));
  setWindowTitle(qtText(kv_.State.TitleText));
  for (int tag = app::kTagCheck; tag <= app::kTagHelp; ++tag) {
    groups_[tag] = new CommandGroup(kv_, tag, this);
  }
  buildActions();
  buildToolBar();
  buildMenuBar();
  buildCentre();
  buildStatusBar();
  bindModels();
  applyWhatsThis();
  qApp->installEventFilter(this);
  resize(1024, 700);
}

MainWindow::~MainWindow() {
  qApp->removeEventFilter(this);
  kv_.VTree1.changed().remove(viewSubscription_);
  kv_.VTree1.ScrollRequested().remove(scrollSubscription_);
  kv_.dfsStatus.changed().remove(statusSubscription_);
  kv_.Commands.changed().remove(commandSubscription_);
  kv_.TabSheet2Changed.remove(tabSubscription_);
  kv_.YHMGroupBox1.changed.remove(panelSubscription_);
}

CommandGroup* MainWindow::commandGroup(int tag) const {
  auto it = groups_.find(tag);
  return it == groups_.end() ? nullptr : it->second;
}

QAction* MainWindow::plainAction(const std::string& name, std::function<void()> handler) {
  QAction* a = makeCommandAction(kv_.Commands, name, std::move(handler), this);
  plainActions_[name] = a;
  return a;
}

QAction* MainWindow::commandAction(const std::string& name) {
  if (const int tag = app::TagOf(name); tag != app::kTagNone) return groups_.at(tag)->action(name);
  auto it = plainActions_.find(name);
  if (it != plainActions_.end()) return it->second;
  // Separators and items without a handler of their own here.
  return plainAction(name, {});
}

QAction* MainWindow::optionAction(const std::string& name) const {
  auto it = optionActions_.find(name);
  return it == optionActions_.end() ? nullptr : it->second;
}

void MainWindow::buildActions() {
  auto& kv = kv_;
  for (const char* exit : {"ToolButton1", "MenuItem1", "Exit1"}) {
    plainAction(exit, [&kv] { kv.Check().guarded([&kv] { kv.Check().btCloseClick(); }); });
  }
  plainAction("MarkAll1", [&kv] { kv.View().MarkAll1Click(true); });
  plainAction("ShowHide1", [&kv] { kv.Window().ShowHide1Click(); });
  // Timed checks and dial-up are not part of this window yet: their items
  // follow the model and do nothing.
  plainAction("Disable1", {});
  plainAction("Disconnect1", {});
  for (const char* account : {"Paccount", "SecAccount"}) {
    QAction* a = plainAction(account, [&kv] { kv.Check().PaccountClick(); });
    a->setCheckable(true);
    applyCommand(a, kv_.Commands, account);
  }
  plainAction("CopyToBanned1", [&kv] { kv.View().CopyToBanned1Click(); });
  plainAction("CopyToAllowed1", [&kv] { kv.View().CopyToAllowed1Click(); });
  plainAction("AddtoFavourites1", [&kv] { kv.View().AddtoFavourites1Click(); });
  plainAction("CopyToBannedSubject1", [&kv] { kv.View().CopyToBannedSubject1Click(); });
  plainAction("Check4NewVer1",
              [&kv] { kv.Check().guarded([&kv] { kv.versionCheck().Check4NewVer1Click(); }); });
  plainAction("QuickReply1", [&kv] {
    if (auto focused = kv.VTree1.FocusedRow())
      kv.quickReply().Open(kv.VTree1.Row(*focused).Node, "");
  });
  plainAction("Qmail1", [&kv] { kv.quickReply().ShowDemForm(nullptr, "", false); });
  plainAction("Contact1", [&kv] { kv.quickReply().ShowDemForm(nullptr, "", true); });

  for (const char* name : kOptionItems) {
    auto* a = new QAction(this);
    a->setObjectName(QString::fromLatin1(name));
    a->setCheckable(true);
    a->setText(qtText(kv_.KVmain->caption(name)));
    a->setChecked(kv_.KVmain->checked(name));
    const std::string option = name;
    connect(a, &QAction::triggered, this, [this, a, option] {
      kv_.Check().guarded([this, &option] {
        auto own = optionHandlers_.find(option);
        if (own != optionHandlers_.end()) {
          own->second();
        } else {
          kv_.Window().OptionClick(option);
        }
      });
      // The item shows the option as the handler left it (a refused change
      // is undone here).
      a->setChecked(kv_.KVmain->checked(option));
    });
    optionActions_[name] = a;
  }
  QPointer<MainWindow> self(this);
  kv_.KVmain->addObserver([self](const settings::FormProperty& p) {
    if (!self) return;
    if (QAction* a = self->optionAction(p.name)) {
      if (const bool* on = std::get_if<bool>(&p.current)) a->setChecked(*on);
    }
  });
}

void MainWindow::setOptionHandler(const std::string& name, std::function<void()> handler) {
  optionHandlers_[name] = std::move(handler);
}

void MainWindow::setDeletedMailOpener(std::function<void()> open) {
  deletedMailOpener_ = std::move(open);
  deletedMail_->setEnabled(static_cast<bool>(deletedMailOpener_));
}

void MainWindow::buildToolBar() {
  toolBar_ = addToolBar(QStringLiteral("ToolBar1"));
  toolBar_->setObjectName(QStringLiteral("ToolBar1"));
  toolBar_->setMovable(false);
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);

  accountMenu_ = new QMenu(QStringLiteral("DDownAcct"), this);
  accountMenu_->setObjectName(QStringLiteral("DDownAcct"));
  accountMenu_->addAction(commandAction("Paccount"));
  accountMenu_->addAction(commandAction("SecAccount"));
  connect(accountMenu_, &QMenu::aboutToShow, this, [this] { kv_.Check().DDownAcctPopup(); });

  QAction* check = commandAction("ToolButton2");
  check->setMenu(accountMenu_);
  toolBar_->addAction(check);
  if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(check))) {
    button->setPopupMode(QToolButton::MenuButtonPopup);
  }
  for (const char* name : {"ToolButton8", "ToolButton3", "ToolButton5", "ToolButton4", "Qmail1"}) {
    toolBar_->addAction(commandAction(name));
  }
  toolBar_->addSeparator();
  // The options live in the menu bar; with the tool bar shown they are one
  // drop-down away.
  auto* options = new QMenu(tr("Options"), this);
  for (const char* name : kOptionItems)
    options->addAction(optionActions_.at(name));
  options->addSeparator();
  options->addAction(commandAction("GeneralOptions1"));
  options->addAction(commandAction("Check4NewVer1"));
  auto* optionsButton = new QToolButton(toolBar_);
  optionsButton->setText(tr("Options"));
  optionsButton->setMenu(options);
  optionsButton->setPopupMode(QToolButton::InstantPopup);
  toolBar_->addWidget(optionsButton);
  toolBar_->addAction(commandAction("Help1"));
  toolBar_->addSeparator();
  toolBar_->addAction(commandAction("ToolButton1"));
}

void MainWindow::buildMenuBar() {
  QMenuBar* bar = menuBar();
  bar->setObjectName(QStringLiteral("MainMenu1"));
  QMenu* mail = bar->addMenu(tr("&Mail"));
  for (const char* name : {"btOpen", "BtCancel", "BtDelete", "btDelall1", "SendRcv", "Qmail1"}) {
    mail->addAction(commandAction(name));
  }
  QMenu* account = mail->addMenu(tr("Account"));
  account->addAction(commandAction("Paccount"));
  account->addAction(commandAction("SecAccount"));
  connect(account, &QMenu::aboutToShow, this, [this] { kv_.Check().DDownAcctPopup(); });
  mail->addSeparator();
  // The quarantine's window belongs to this window alone: no command of the
  // core stands behind it.
  deletedMail_ = mail->addAction(tr("Deleted mail..."));
  deletedMail_->setObjectName(QStringLiteral("DeletedMail1"));
  deletedMail_->setEnabled(false);
  connect(deletedMail_, &QAction::triggered, this, [this] {
    if (deletedMailOpener_) deletedMailOpener_();
  });
  mail->addSeparator();
  mail->addAction(commandAction("MenuItem1"));

  QMenu* options = bar->addMenu(tr("&Options"));
  for (const char* name : kOptionItems)
    options->addAction(optionActions_.at(name));
  options->addSeparator();
  QAction* general = options->addAction(qtText(kv_.KVmain->caption("General1")));
  connect(general, &QAction::triggered, this,
          [this] { kv_.Check().guarded([this] { kv_.Window().General1Click(); }); });

  QMenu* help = bar->addMenu(tr("&Help"));
  QAction* contents = help->addAction(tr("&Contents"));
  contents->setShortcut(QKeySequence(Qt::Key_F1));
  contents->setShortcutContext(Qt::WidgetShortcut);  // F1 reaches FormKeyDown
  connect(contents, &QAction::triggered, this, [this] { kv_.windowPort().ShowHelp(""); });
  QAction* intro = help->addAction(tr("&Introduction"));
  connect(intro, &QAction::triggered, this, [this] { kv_.windowPort().ShowHelp("Intro"); });
  help->addSeparator();
  help->addAction(commandAction("Contact1"));
  help->addAction(commandAction("Check4NewVer1"));
  // The caption's "?" button: the next click on a control shows its text.
  whatsThis_ = help->addAction(tr("What's &This?"));
  whatsThis_->setObjectName(QStringLiteral("CaptionButton1"));
  whatsThis_->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_F1));
  connect(whatsThis_, &QAction::triggered, this, [] { QWhatsThis::enterWhatsThisMode(); });
}

void MainWindow::buildCentre() {
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("PageControl1"));

  serverStack_ = new QStackedWidget(tabs_);
  serverStack_->setObjectName(QStringLiteral("TabSheet1"));
  model_ = new MessageTableModel(kv_, this);
  view_ = new MessageTreeView(kv_, serverStack_);
  view_->setModel(model_);
  levelBar_ = new LevelBarDelegate(kv_, view_);
  cellDelegate_ = new MessageCellDelegate(kv_, view_);
  view_->setItemDelegate(cellDelegate_);
  view_->setItemDelegateForColumn(app::kColSpam, levelBar_);
  connect(view_->header(), &QHeaderView::sectionClicked, this,
          [this](int column) { kv_.Check().guarded([this, column] { model_->sort(column); }); });
  connect(view_->header(), &QHeaderView::sectionResized, this, [this](int column, int, int size) {
    if (headerResetting_ || column < 0 || column >= app::kColumnCount) return;
    if (kv_.VTree1.ColumnWidth(column) != size) kv_.VTree1.setColumnWidth(column, size);
  });
  connect(model_, &QAbstractItemModel::modelAboutToBeReset, this,
          [this] { headerResetting_ = true; });
  // Connected after the header's own handler: the widths go back on top.
  connect(model_, &QAbstractItemModel::modelReset, this, [this] {
    applyColumnWidths();
    headerResetting_ = false;
  });
  connect(view_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
    const QModelIndex at = view_->indexAt(pos);
    popupViewMenu(at.isValid() ? at.column() : -1, view_->viewport()->mapToGlobal(pos));
  });
  connect(
      cellDelegate_, &MessageCellDelegate::editorContextMenu, this,
      [this](const QPoint& globalPos) { popupViewMenu(kv_.VTree1.Editor().Column, globalPos); });
  serverStack_->addWidget(view_);

  youHaveMail_ = new QWidget(serverStack_);
  youHaveMail_->setObjectName(QStringLiteral("YHMGroupBox1"));
  auto* panelLayout = new QVBoxLayout(youHaveMail_);
  youHaveMailLabel_ = new QLabel(tr("You have mail"), youHaveMail_);
  youHaveMailLabel_->setAlignment(Qt::AlignCenter);
  QFont big = youHaveMailLabel_->font();
  big.setPointSize(big.pointSize() * 3);
  big.setBold(true);
  youHaveMailLabel_->setFont(big);
  panelLayout->addWidget(youHaveMailLabel_);
  // The mouse over the panel answers the blinking label (the label itself is
  // hidden half of the time).
  youHaveMail_->setMouseTracking(true);
  youHaveMailLabel_->setMouseTracking(true);
  serverStack_->addWidget(youHaveMail_);
  blink_ = new QTimer(this);
  blink_->setInterval(notify::YouHaveMailPanel::BlinkInterval);
  // Every blink is counted: the idle timer takes a mouse over the label for
  // an answer only once the label has blinked.
  connect(blink_, &QTimer::timeout, this, [this] {
    youHaveMailLabel_->setVisible(!youHaveMailLabel_->isVisible());
    kv_.Timers().YHMBlinkLabel1Blink();
  });

  tabs_->addTab(serverStack_, tr("Server"));
  auto* communications = new QWidget(tabs_);
  communications->setObjectName(QStringLiteral("TabSheet2"));
  communications_ = new CommunicationsTab(kv_, communications);
  (new QVBoxLayout(communications))->addWidget(communications_);
  tabs_->addTab(communications, tr("Communications"));
  setCentralWidget(tabs_);

  popup1_ = new QMenu(this);
  popup1_->setObjectName(QStringLiteral("Popup1"));
  for (const char* name : {"CopyToBanned1", "CopyToAllowed1", "AddtoFavourites1",
                           "CopyToBannedSubject1", "QuickReply1"}) {
    popup1_->addAction(commandAction(name));
  }
}

void MainWindow::buildStatusBar() {
  QStatusBar* bar = statusBar();
  bar->setObjectName(QStringLiteral("dfsStatus"));
  const int stretch[3] = {3, 1, 2};
  for (int i = 0; i < 3; ++i) {
    panels_[i] = new QLabel(bar);
    panels_[i]->setObjectName(QStringLiteral("Panel%1").arg(i));
    panels_[i]->setText(qtText(kv_.dfsStatus.Panel(i)));
    bar->addWidget(panels_[i], stretch[i]);
  }
  gauge_ = new QProgressBar(bar);
  gauge_->setObjectName(QStringLiteral("Panel3"));
  gauge_->setRange(0, 100);
  gauge_->setValue(kv_.dfsStatus.Gauge());
  gauge_->setMaximumWidth(160);
  bar->addPermanentWidget(gauge_);
}

void MainWindow::bindModels() {
  statusSubscription_ = kv_.dfsStatus.changed().add([this](int panel) {
    if (panel >= 0 && panel < 3) {
      panels_[panel]->setText(qtText(kv_.dfsStatus.Panel(panel)));
    } else if (panel == 3) {
      gauge_->setValue(kv_.dfsStatus.Gauge());
    }
  });
  commandSubscription_ = kv_.Commands.changed().add([this](const std::string& name) {
    if (name == "ToolBar1" || name == "MainMenu1") {
      syncBars();
    } else if (auto it = plainActions_.find(name); it != plainActions_.end()) {
      applyCommand(it->second, kv_.Commands, name);
    }
  });
  tabSubscription_ = kv_.TabSheet2Changed.add([this] { syncPanel(); });
  panelSubscription_ = kv_.YHMGroupBox1.changed.add([this] { syncPanel(); });
  viewSubscription_ = kv_.VTree1.changed().add([this] { syncView(); });
  scrollSubscription_ = kv_.VTree1.ScrollRequested().add([this](std::size_t row) {
    view_->scrollTo(model_->index(static_cast<int>(row), 0), QAbstractItemView::PositionAtCenter);
  });
  auto& kv = kv_;
  timer1_ = std::make_unique<TimerDriver>(
      kv_.ETimer1, [&kv] { kv.Check().guarded([&kv] { kv.Body().Timer1Timer(); }); });
  // The scheduler: the timed check, the countdown in the tray, the
  // keep-alive of a held session, and a requested check.
  timer2_ = std::make_unique<TimerDriver>(kv_.ETimer2, [&kv] { kv.Timer2Timer(); });
  snoozeTimer_ = std::make_unique<TimerDriver>(kv_.SnoozeTimer, [&kv] { kv.SnoozeTimerTimer(); });
  syncBars();
  syncPanel();
  syncView();
}

void MainWindow::syncBars() {
  toolBar_->setVisible(kv_.Commands.Visible("ToolBar1"));
  menuBar()->setVisible(kv_.Commands.Visible("MainMenu1"));
}

void MainWindow::syncPanel() {
  tabs_->setTabVisible(1, kv_.TabSheet2Visible);
  serverStack_->setCurrentWidget(kv_.YHMGroupBox1.InFront ? youHaveMail_ : view_);
  if (kv_.YHMGroupBox1.Blink) {
    if (!blink_->isActive()) blink_->start();
  } else {
    blink_->stop();
    youHaveMailLabel_->setVisible(true);
  }
}

void MainWindow::addCommunicationsGroup(QWidget* group) {
  QWidget* tab = tabs_->widget(1);
  group->setParent(tab);
  tab->layout()->addWidget(group);
}

QLabel* MainWindow::statusPanel(int index) const {
  return index >= 0 && index < 3 ? panels_[index] : nullptr;
}

bool MainWindow::youHaveMailInFront() const {
  return serverStack_->currentWidget() == youHaveMail_;
}

void MainWindow::applyColumnWidths() {
  QHeaderView* header = view_->header();
  const bool resetting = headerResetting_;
  headerResetting_ = true;
  for (int c = 0; c < app::kColumnCount && c < header->count(); ++c) {
    const int width = kv_.VTree1.ColumnWidth(c);
    if (width > 0 && header->sectionSize(c) != width) header->resizeSection(c, width);
  }
  headerResetting_ = resetting;
}

void MainWindow::syncView() {
  const auto& core = kv_.VTree1;
  view_->setEnabled(core.Enabled());
  view_->setToolTip(qtText(core.Hint()));
  applyColumnWidths();
  QHeaderView* header = view_->header();
  const Qt::SortOrder order =
      core.Direction() == app::SortDirection::Ascending ? Qt::AscendingOrder : Qt::DescendingOrder;
  if (header->sortIndicatorSection() != core.SortColumn() ||
      header->sortIndicatorOrder() != order) {
    header->setSortIndicator(core.SortColumn(), order);
  }
  if (!core.Editor().Editing) view_->closeCellEditor();
  kv_.VTree1.setClientHeight(view_->viewport()->height());
}

std::unique_ptr<QMenu> MainWindow::makeTrayMenu() {
  auto menu = std::make_unique<QMenu>();
  menu->setObjectName(QStringLiteral("Popup2"));
  for (const char* name : kTrayItems)
    menu->addAction(commandAction(name));
  return menu;
}

void MainWindow::popupViewMenu(int column, const QPoint& globalPos) {
  kv_.View().VTree1ColumnClick(column);
  popup1_->exec(globalPos);
}

void MainWindow::requestClose() {
  close();
}

void MainWindow::minimizeApplication() {
  if (trayAvailable()) {
    hide();
  } else {
    showMinimized();
  }
}

void MainWindow::showFromTray() {
  if (isMinimized()) {
    showNormal();
  } else {
    show();
  }
  raise();
  activateWindow();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (exiting_) {
    event->accept();
    return;
  }
  bool mayClose = false;
  kv_.Check().guarded([this, &mayClose] { mayClose = kv_.Window().FormCloseQuery(); });
  if (!mayClose) {
    event->ignore();
    return;
  }
  exiting_ = true;
  event->accept();
  if (exitSequence_) exitSequence_();
}

void MainWindow::paintEvent(QPaintEvent* event) {
  QMainWindow::paintEvent(event);
  using Action = app::WindowHandlers::PaintAction;
  Action action = Action::None;
  kv_.Check().guarded([this, &action] { action = kv_.Window().FormPaint(); });
  if (action == Action::Maximize || action == Action::MaximizeAndClose) {
    QTimer::singleShot(0, this, [this] {
      // A window that starts minimised stays so; it comes back maximised.
      if (isMinimized() || !isVisible()) {
        setWindowState(windowState() | Qt::WindowMaximized);
      } else {
        showMaximized();
      }
    });
  }
  if (action == Action::Close || action == Action::MaximizeAndClose) {
    QTimer::singleShot(0, this, [this] { close(); });
  }
}

void MainWindow::hideEvent(QHideEvent* event) {
  QMainWindow::hideEvent(event);
  if (!event->spontaneous() && !exiting_) kv_.Window().FormHide();
}

void MainWindow::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || exiting_) return;
  // The user minimised or restored the window with its frame's buttons.
  const bool shown = isVisible() && !isMinimized();
  if (shown != kv_.State.MainWindowVisible) {
    kv_.State.MainWindowVisible = shown;
    kv_.Commands.setCaption("ShowHide1", shown ? "Hide" : "Show");
    if (!shown && trayAvailable()) QTimer::singleShot(0, this, [this] { hide(); });
  }
}

void MainWindow::applyWhatsThis() {
  // Short forms of the help pages (messages, commands, status texts).
  view_->setWhatsThis(
      tr("<b>The message view</b><p>One row per waiting message, highest spam level first. "
         "The box of a row marks it for deletion ([X]); the bar shows the spam level 0 to 10, "
         "and levels above 7 are marked by the check itself. Click a column header to sort by "
         "it, Space marks the selected rows, Enter shows a message's text.</p>"));
  const std::pair<const char*, const char*> commands[] = {
      {"ToolButton2",
       "<b>Check</b> (F5)<p>Connects to the POP3 server, fetches the header block, size and "
       "id of every waiting message, scores them and lists them. The arrow chooses the "
       "account.</p>"},
      {"ToolButton3",
       "<b>Spam delete</b> (Del)<p>Deletes on the server the messages marked with [X], each "
       "after a copy of it was kept (Mail, Deleted mail...).</p>"},
      {"ToolButton8", "<b>Cancel</b> (Esc)<p>Stops the check or deletion in progress.</p>"},
      {"ToolButton5", "<b>Delete All</b><p>Deletes every listed message on the server.</p>"},
      {"ToolButton4",
       "<b>Send/Receive</b> (F9)<p>Makes your own mail program send and receive by replaying "
       "its recorded hot-key.</p>"},
      {"Help1", "<b>Help</b> (F1)<p>Opens these help pages.</p>"},
      {"ToolButton1", "<b>Exit</b><p>Ends Kelvrin.</p>"},
  };
  for (const auto& [name, text] : commands) {
    if (QWidget* button = toolBar_->widgetForAction(commandAction(name))) {
      button->setWhatsThis(tr(text));
    }
  }
  statusBar()->setWhatsThis(
      tr("<b>The status bar</b><p>What Kelvrin is doing or what happened last; the number of "
         "messages the last check listed; your computer's address, or why a message got its "
         "level when you point at it; the gauge of the check or deletion in progress.</p>"));
  tabs_->setWhatsThis(
      tr("<b>Server</b> lists the messages of the last check (or shows \"You have mail\"); "
         "<b>Communications</b> holds the favourites and the web-site list."));
}

qint64 MainWindow::showHint(QWidget* widget, const QPoint& globalPos, const QString& text) {
  const qint64 pause = notify::HintHidePause(text.toStdString());
  QToolTip::showText(globalPos, text, widget, QRect(), static_cast<int>(pause));
  lastHintPause_ = pause;
  return pause;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    if (!kv_.KVmain->checked("Hints1")) return true;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (widget == nullptr || widget->window() != this) return false;
    // DisplayHint: shown at once, and up long enough to be read.
    auto* help = static_cast<QHelpEvent*>(event);
    QString text;
    if (auto* itemView = qobject_cast<QAbstractItemView*>(widget->parentWidget());
        itemView != nullptr && itemView->viewport() == widget) {
      const QModelIndex at = itemView->indexAt(help->pos());
      if (at.isValid()) text = at.data(Qt::ToolTipRole).toString();
      if (text.isEmpty()) text = itemView->toolTip();
    } else {
      text = widget->toolTip();
    }
    if (text.isEmpty()) return false;
    showHint(widget, help->globalPos(), text);
    return true;
  }
  if (event->type() == QEvent::MouseMove &&
      (watched == youHaveMail_ || watched == youHaveMailLabel_)) {
    kv_.Check().guarded(
        [this] { kv_.idleWatch().SnoozeTimerTimer(app::IdleWatch::Sender::YouHaveMailLabel); });
    return false;
  }
  if (event->type() != QEvent::KeyPress) return false;
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  auto* key = static_cast<QKeyEvent*>(event);
  const auto k = windowKey(key->key());
  if (k == app::WindowHandlers::Key::Other) return false;
  bool handled = false;
  kv_.Check().guarded([&] { handled = kv_.Window().FormKeyDown(k, tabs_->currentIndex() == 0); });
  return handled;
}

}  // namespace kelvrin::gui
