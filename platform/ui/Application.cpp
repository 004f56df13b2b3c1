// The application object on Qt: starting the toolkit (offscreen without a display), the message
// loop and its idle moment, the minimize/restore and exception hooks, activation of the forms, and
// the dialog message boxes.
#include "platform/ui/Application.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>
#include <QWindowStateChangeEvent>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <vector>

#include "platform/core/Dialogs.h"
#include "platform/ui/Forms.h"
#include "platform/ui/QtSupport_p.h"

namespace ovelta {

namespace {

// The forms alive now, oldest first, and the one that was active last.
std::vector<TForm*> gForms;
TForm* gLastActive = nullptr;

TForm* FormOfWidget(const QObject* Object) {
  for (TForm* form : gForms)
    if (FormWidgetOf(form) == Object) return form;
  return nullptr;
}

// The platform's message-box flags as a Qt dialog, and the pressed button as the platform's
// identifier (IDOK 1, IDCANCEL 2, IDYES 6, IDNO 7).
constexpr unsigned kButtonMask = 0x0F;
constexpr unsigned kIconMask = 0xF0;

int DialogMessageBox(const AnsiString& Text, const AnsiString& Caption, unsigned Flags) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (Flags & kIconMask) {
    case 0x10:
      icon = QMessageBox::Critical;
      break;
    case 0x20:
      icon = QMessageBox::Question;
      break;
    case 0x30:
      icon = QMessageBox::Warning;
      break;
    case 0x40:
      icon = QMessageBox::Information;
      break;
    default:
      break;
  }
  QMessageBox::StandardButtons buttons = QMessageBox::Ok;
  switch (Flags & kButtonMask) {
    case 1:
      buttons = QMessageBox::Ok | QMessageBox::Cancel;
      break;
    case 3:
      buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
      break;
    case 4:
      buttons = QMessageBox::Yes | QMessageBox::No;
      break;
    default:
      break;
  }
  QMessageBox box(icon, ToQString(Caption), ToQString(Text), buttons);
  box.setWindowFlag(Qt::WindowStaysOnTopHint);
  switch (box.exec()) {
    case QMessageBox::Cancel:
      return 2;
    case QMessageBox::Yes:
      return 6;
    case QMessageBox::No:
      return 7;
    default:
      return 1;
  }
}

// Watches every event of the application (an event filter on the application object sees them
// all): the forms' minimize, restore and activation, and whether anything happened since the last
// idle moment. The idle moment itself is a low-priority event posted when the loop is about to
// wait, so it is delivered only after every event already waiting; when nothing else happened
// since the last idle moment none is posted, so an idle application really sleeps.
class FormWatcher : public QObject {
 public:
  explicit FormWatcher(TApplication* App, std::function<void()> OnIdle)
      : FApp(App), FOnIdle(std::move(OnIdle)) {}

  void AboutToBlock() {
    if (FProbePosted || !FActivity || !FApp->OnIdle) return;
    FProbePosted = true;
    QCoreApplication::postEvent(this, new QEvent(kIdleEvent), Qt::LowEventPriority);
  }

 protected:
  bool event(QEvent* Event) override {
    if (Event->type() != kIdleEvent) return QObject::event(Event);
    FProbePosted = false;
    FActivity = false;
    FOnIdle();
    return true;
  }

  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == kIdleEvent) return false;
    FActivity = true;
    if (Event->type() == QEvent::WindowStateChange) {
      if (FormOfWidget(Watched)) {
        // The window system may confirm a change more than once: only real changes count.
        bool now = static_cast<QWidget*>(Watched)->isMinimized();
        bool was = Watched->property(kMinimizedProperty).toBool();
        Watched->setProperty(kMinimizedProperty, now);
        if (!was && now) Fire(FApp->OnMinimize, FApp);
        if (was && !now) Fire(FApp->OnRestore, FApp);
      }
    } else if (Event->type() == QEvent::WindowActivate) {
      if (TForm* form = FormOfWidget(Watched)) gLastActive = form;
    }
    return false;
  }

 private:
  static constexpr QEvent::Type kIdleEvent = static_cast<QEvent::Type>(QEvent::User + 0x0ed1);
  static constexpr const char* kMinimizedProperty = "ovelta_minimized";

  // Hooks run guarded (an event filter is called from inside Qt's event delivery).
  void Fire(const TNotifyEvent& Hook, TObject* Sender) {
    TNotifyEvent hook = Hook;
    if (hook) GuardedCall(Sender, [&] { hook(Sender); });
  }

  TApplication* FApp;
  std::function<void()> FOnIdle;
  bool FProbePosted = false;
  bool FActivity = true;
};

}  // namespace

struct TApplication::Impl {
  std::unique_ptr<QApplication> OwnApp;
  QPointer<QCoreApplication> Attached;
  std::unique_ptr<FormWatcher> Watcher;
  QMetaObject::Connection IdleConnection;
  bool Headless = false;
  bool DialogsInstalled = false;
  MessageBoxHandler PreviousBoxes;
};

TApplication::TApplication() : TComponent(nullptr), FImpl(std::make_unique<Impl>()) {}

TApplication::~TApplication() {
  // The process is ending without Finalize: tearing Qt down now, among other static destructors,
  // is not safe, so the toolkit and the forms are left to the operating system.
  if (FImpl->OwnApp) {
    while (!Components().empty()) RemoveComponent(Components().back());
    (void)FImpl->OwnApp.release();
  }
}

void TApplication::Initialize() {
  if (FImpl->Attached && FImpl->Attached == QCoreApplication::instance()) return;
  if (!QCoreApplication::instance()) {
    // The toolkit keeps argc and argv for its life. The program takes no arguments; the platform
    // is chosen here from what the machine has: no display at all means offscreen, and an X11
    // display that cannot be reached falls back to offscreen too. A platform the user chose for
    // the toolkit itself is left alone.
    static char name[] = "merlig";
    static char option[] = "-platform";
    static char offscreen[] = "offscreen";
    static char x11[] = "xcb;offscreen";
    static char* argv[4] = {name, nullptr, nullptr, nullptr};
    static int argc = 1;
    argv[0] = program_invocation_short_name ? program_invocation_short_name : name;
    argc = 1;
    bool hasX11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    bool hasWayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && !hasWayland) {
      argv[1] = option;
      argv[2] = hasX11 ? x11 : offscreen;
      argc = 3;
    }
    FImpl->OwnApp = std::make_unique<QApplication>(argc, argv);
  }
  QCoreApplication* app = QCoreApplication::instance();
  FImpl->Attached = app;
  QApplication::setQuitOnLastWindowClosed(false);
  // An application object without widgets (someone else's QCoreApplication) can show nothing.
  QString platform = QGuiApplication::platformName();
  FImpl->Headless =
      !qobject_cast<QApplication*>(app) || platform == "offscreen" || platform == "minimal";
  FImpl->Watcher = std::make_unique<FormWatcher>(this, [this] { Idle(); });
  app->installEventFilter(FImpl->Watcher.get());
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance()) {
    FormWatcher* watcher = FImpl->Watcher.get();
    FImpl->IdleConnection = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock,
                                             watcher, [watcher] { watcher->AboutToBlock(); });
  }
  if (!FImpl->Headless && !FImpl->DialogsInstalled) {
    FImpl->PreviousBoxes = SetMessageBoxHandler(DialogMessageBox);
    FImpl->DialogsInstalled = true;
  }
}

bool TApplication::Initialized() const {
  return FImpl->Attached && FImpl->Attached == QCoreApplication::instance();
}

void TApplication::DestroyComponents() {
  while (!Components().empty()) delete Components().back();
}

void TApplication::Finalize() {
  DestroyComponents();
  if (FImpl->DialogsInstalled) {
    SetMessageBoxHandler(std::move(FImpl->PreviousBoxes));
    FImpl->DialogsInstalled = false;
  }
  QObject::disconnect(FImpl->IdleConnection);
  if (FImpl->Attached && FImpl->Watcher) FImpl->Attached->removeEventFilter(FImpl->Watcher.get());
  FImpl->Watcher.reset();
  ReleaseNotifyIcons();
  if (FImpl->Attached) QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  FImpl->OwnApp.reset();
  FImpl->Attached = nullptr;
  FTerminated = false;
}

bool TApplication::Headless() const { return FImpl->Headless; }

void TApplication::SetTitle(const AnsiString& Value) {
  FTitle = Value;
  SetApplicationTitle(Value);
}

void TApplication::SetMainForm(TForm* Value) {
  if (FMainForm == Value) return;
  if (FMainForm) FMainForm->RemoveFreeNotification(this);
  FMainForm = Value;
  if (FMainForm) FMainForm->FreeNotification(this);
}

void TApplication::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation != TOperation::opRemove) return;
  if (AComponent == FMainForm) FMainForm = nullptr;
  if (AComponent == FWindow) FWindow = nullptr;
}

void TApplication::Run() {
  Initialize();
  if (!FTerminated && FMainForm && FShowMainForm) FMainForm->Show();
  if (!FTerminated) {
    FRunning = true;
    QApplication::exec();
    FRunning = false;
  }
  FTerminated = false;
}

void TApplication::Terminate() {
  FTerminated = true;
  // Only a running loop is told: Qt keeps an exit request made outside its loop and would end
  // every later local loop at once.
  if (FRunning) QCoreApplication::exit(0);
}

void TApplication::ProcessMessages() {
  Initialize();
  QCoreApplication::processEvents();
}

void TApplication::Idle() {
  if (FInIdle || FTerminated || !OnIdle) return;
  FInIdle = true;
  // A copy: the hook may replace or clear OnIdle while it runs.
  TNotifyEvent hook = OnIdle;
  GuardedCall(this, [&] { hook(this); });
  FInIdle = false;
}

namespace {

constexpr const char* kUnknownException = "Unknown exception";

// Hands E to the hook, or shows it. Whatever escapes the hook is shown; nothing escapes here.
void Deliver(TApplication& App, TObject* Sender, const Exception& E) noexcept {
  try {
    TExceptionEvent hook = App.OnException;
    if (hook)
      hook(Sender, E);
    else
      App.ShowException(E);
  } catch (const std::exception& inner) {
    try {
      ovelta::ShowException(inner);
    } catch (...) {
    }
  } catch (...) {
    try {
      ShowExceptionMessage(kUnknownException);
    } catch (...) {
    }
  }
}

}  // namespace

void TApplication::HandleException(TObject* Sender) noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return;
  try {
    std::rethrow_exception(current);
  } catch (const std::exception& e) {
    HandleException(Sender, e);
  } catch (...) {
    Deliver(*this, Sender, Exception(kUnknownException));
  }
}

void TApplication::HandleException(TObject* Sender, const std::exception& E) noexcept {
  if (const auto* known = dynamic_cast<const Exception*>(&E)) {
    Deliver(*this, Sender, *known);
    return;
  }
  try {
    Deliver(*this, Sender, Exception(E.what()));
  } catch (...) {
    // Not even the message could be copied: nothing is left to show.
  }
}

void TApplication::ShowException(const std::exception& E) { ovelta::ShowException(E); }

bool TApplication::Active() const {
  if (!Initialized()) return false;
  QWidget* active = QApplication::activeWindow();
  return active && FormOfWidget(active) != nullptr;
}

void TApplication::HideWindow() {
  if (!Initialized()) return;
  for (TForm* form : gForms)
    if (QWidget* widget = FormWidgetOf(form); widget && widget->isVisible()) MarkNoTaskbar(widget);
}

void TApplication::BringToFront() {
  if (!Initialized()) return;
  TForm* target = nullptr;
  if (gLastActive && gLastActive->Visible()) target = gLastActive;
  for (auto it = gForms.rbegin(); !target && it != gForms.rend(); ++it)
    if ((*it)->Visible()) target = *it;
  if (!target) return;
  QWidget* widget = FormWidgetOf(target);
  if (!widget) return;
  if (widget->isMinimized()) widget->showNormal();
  if (!Headless()) widget->raise();  // the offscreen platform has no stacking order
  widget->activateWindow();
}

HWND TApplication::Handle() {
  if (!FWindow) {
    FWindow = new TWinControl(this);
    FWindow->SetVisible(false);
    FWindow->SetCaption(FTitle);
  }
  return FWindow->Handle();
}

HICON TApplication::Icon() {
  HICON icon = LoadIconA(HInstance(), "MAINICON");
  return icon ? icon : StandInIcon();
}

TApplication& Application() {
  // Never destroyed: forms and the toolkit are torn down by Finalize, at the end of main.
  static TApplication* application = new TApplication();
  return *application;
}

void RegisterFormWidget(TForm* Form) {
  if (std::find(gForms.begin(), gForms.end(), Form) == gForms.end()) gForms.push_back(Form);
}

void UnregisterFormWidget(TForm* Form) {
  gForms.erase(std::remove(gForms.begin(), gForms.end(), Form), gForms.end());
  if (gLastActive == Form) gLastActive = nullptr;
}

}  // namespace ovelta
