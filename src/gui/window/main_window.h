#pragma once

// The main window TKVmain as Qt widgets: tool bar, menu bar, the Check
// button's account drop-down, the tabs "Server" (the message view with the
// "You have mail" panel behind it) and "Communications", the status bar with
// its four panels and the gauge. Every widget renders a model of the core
// and every user action goes to a core handler.

#include <QMainWindow>
#include <QMenu>
#include <QPointer>
#include <functional>
#include <map>
#include <memory>
#include <string>

class QLabel;

class QProgressBar;
class QStackedWidget;
class QTabWidget;
class QTimer;
class QToolBar;

namespace kelvrin::app {
class TKVmain;
}

namespace kelvrin::gui {

class CommandGroup;
class CommunicationsTab;
class LevelBarDelegate;
class MessageCellDelegate;
class MessageTableModel;
class MessageTreeView;
class TimerDriver;

class MainWindow : public QMainWindow {
  Q_OBJECT
 public:
  explicit MainWindow(app::TKVmain& kv, QWidget* parent = nullptr);
  ~MainWindow() override;

  app::TKVmain& core() const { return kv_; }
  MessageTreeView* messageView() const { return view_; }
  MessageTableModel* messageModel() const { return model_; }
  LevelBarDelegate* levelBarDelegate() const { return levelBar_; }
  // The object of a command tag (1 Check ... 7 Help).
  CommandGroup* commandGroup(int tag) const;
  // The action of any command of the model by its name, tagged or not.
  QAction* commandAction(const std::string& name);
  // The checkable menu item of an option of the KVmain form.
  QAction* optionAction(const std::string& name) const;
  QToolBar* toolBar() const { return toolBar_; }
  QMenu* accountMenu() const { return accountMenu_; }
  QMenu* viewMenu() const { return popup1_; }
  QLabel* statusPanel(int index) const;
  QProgressBar* gauge() const { return gauge_; }
  QTabWidget* tabs() const { return tabs_; }
  // Adds a group to the "Communications" tab, below those already there.
  void addCommunicationsGroup(QWidget* group);
  CommunicationsTab* communicationsTab() const { return communications_; }
  QWidget* youHaveMailPanel() const { return youHaveMail_; }
  bool youHaveMailInFront() const;

  // The tray menu Popup2, made of the tray commands' actions (the caller
  // owns it).
  std::unique_ptr<QMenu> makeTrayMenu();
  void setTrayMenu(QMenu* menu) { trayMenu_ = menu; }
  QMenu* trayMenu() const { return trayMenu_; }
  // Whether a tray shows the program's icon: then minimising hides the
  // window; without one it stays on the task bar.
  void setTrayAvailable(std::function<bool()> available) { trayAvailable_ = std::move(available); }
  bool trayAvailable() const { return trayAvailable_ && trayAvailable_(); }

  // An option item whose handler lives outside the core's window handlers
  // (the tip dialog of "Show Tips"); the item still shows the option.
  void setOptionHandler(const std::string& name, std::function<void()> handler);

  // The "Deleted mail..." item of the Mail menu opens what this gives (the
  // item stays disabled without it).
  void setDeletedMailOpener(std::function<void()> open);
  QAction* deletedMailAction() const { return deletedMail_; }
  // The "?" of the caption: context help for the next click.
  QAction* whatsThisAction() const { return whatsThis_; }
  // Shows a hint for as long as the hint rule says; returns that pause.
  qint64 showHint(QWidget* widget, const QPoint& globalPos, const QString& text);
  qint64 lastHintPause() const { return lastHintPause_; }

  // Runs once a close of the window was accepted: the program's exit
  // sequence. While it runs (and after), closing is not asked again.
  void setExitSequence(std::function<void()> exit) { exitSequence_ = std::move(exit); }
  void setExiting() { exiting_ = true; }
  bool exiting() const { return exiting_; }
  // Exit from any command: asks FormCloseQuery as a close of the window does.
  void requestClose();

  // Minimises as the program does: into the tray when there is one, else
  // onto the task bar.
  void minimizeApplication();
  void showFromTray();
  // Opens the view's context menu for a column at a screen position.
  void popupViewMenu(int column, const QPoint& globalPos);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void buildActions();
  void buildToolBar();
  void buildMenuBar();
  void buildCentre();
  void buildStatusBar();
  void bindModels();
  void applyWhatsThis();
  void syncView();
  void applyColumnWidths();
  void syncBars();
  void syncPanel();
  QAction* plainAction(const std::string& name, std::function<void()> handler);

  app::TKVmain& kv_;
  std::map<int, CommandGroup*> groups_;
  std::map<std::string, QAction*> plainActions_;
  std::map<std::string, QAction*> optionActions_;
  std::map<std::string, std::function<void()>> optionHandlers_;
  MessageTableModel* model_ = nullptr;
  MessageTreeView* view_ = nullptr;
  LevelBarDelegate* levelBar_ = nullptr;
  MessageCellDelegate* cellDelegate_ = nullptr;
  QToolBar* toolBar_ = nullptr;
  QMenu* accountMenu_ = nullptr;
  QMenu* popup1_ = nullptr;
  QTabWidget* tabs_ = nullptr;
  CommunicationsTab* communications_ = nullptr;
  QStackedWidget* serverStack_ = nullptr;
  QWidget* youHaveMail_ = nullptr;
  QLabel* youHaveMailLabel_ = nullptr;
  QTimer* blink_ = nullptr;
  QLabel* panels_[3] = {nullptr, nullptr, nullptr};
  QProgressBar* gauge_ = nullptr;
  QPointer<QMenu> trayMenu_;
  std::unique_ptr<TimerDriver> timer1_;
  std::unique_ptr<TimerDriver> timer2_;
  std::unique_ptr<TimerDriver> snoozeTimer_;
  std::function<bool()> trayAvailable_;
  std::function<void()> exitSequence_;
  QAction* deletedMail_ = nullptr;
  QAction* whatsThis_ = nullptr;
  qint64 lastHintPause_ = 0;
  std::function<void()> deletedMailOpener_;
  bool exiting_ = false;
  // The header resizes its sections itself when the model is reset; only
  // the user's resizing is the core's column width.
  bool headerResetting_ = false;
  bool closeQueried_ = false;
  std::size_t viewSubscription_ = 0;
  std::size_t scrollSubscription_ = 0;
  std::size_t statusSubscription_ = 0;
  std::size_t commandSubscription_ = 0;
  std::size_t tabSubscription_ = 0;
  std::size_t panelSubscription_ = 0;
};

}  // namespace kelvrin::gui
