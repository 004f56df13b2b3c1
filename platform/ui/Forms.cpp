// Forms and their controls on Qt widgets: tool windows (no taskbar entry) with fixed client sizes,
// centred placement, the button-face colour and the mapped Japanese font; labels, the memo whose
// lines mirror the text document block for block, and the glyph button.
#include "platform/ui/Forms.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFont>
#include <QLabel>
#include <QPalette>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWidget>

#include <algorithm>

#include "platform/gdi/Fonts.h"
#include "platform/ui/QtSupport_p.h"

namespace ovelta {

namespace {

// The caption of the standard close button, with its accelerator.
constexpr const char* kCloseCaption = "閉じる(&C)";

// The top-level widget of a form: turns the window system's close request into the form's Close.
class FormWidget : public QWidget {
 public:
  explicit FormWidget(TForm* Form) : QWidget(nullptr, Qt::Tool), FForm(Form) {}

 protected:
  void closeEvent(QCloseEvent* Event) override {
    // The form decides (hide, free, or end the program); Qt must not hide it on its own.
    Event->ignore();
    TForm* form = FForm;
    GuardedCall(form, [form] { form->Close(); });
  }

 private:
  TForm* FForm;
};

QFont ToQFont(const TFont& Font) {
  QFont font(QString::fromStdString(FontFamilyFor(Font.Name())));
  int pixels = Font.Height() < 0 ? -Font.Height() : Font.Height();
  if (pixels > 0) font.setPixelSize(pixels);
  return font;
}

void PaintWith(QWidget* Widget, TColor Color, QPalette::ColorRole Role) {
  QPalette palette = Widget->palette();
  QPalette::ColorRole source = Color == clBtnFace ? QPalette::Button : QPalette::Base;
  palette.setColor(Role, QApplication::palette().color(source));
  Widget->setPalette(palette);
  Widget->setAutoFillBackground(true);
}

}  // namespace

struct TForm::Impl {
  std::unique_ptr<FormWidget> Widget;
  int ClientWidth = 0;
  int ClientHeight = 0;
  bool SystemMenu = true, Minimize = true, Maximize = true;
};

struct FormAccess {
  static void ApplyFlags(TForm& Form) {
    TForm::Impl& impl = *Form.FImpl;
    Qt::WindowFlags flags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
    if (impl.SystemMenu) flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
    if (impl.Minimize) flags |= Qt::WindowMinimizeButtonHint;
    if (impl.Maximize && Form.FBorderStyle == TFormBorderStyle::bsSizeable)
      flags |= Qt::WindowMaximizeButtonHint;
    bool shown = impl.Widget->isVisible();
    impl.Widget->setWindowFlags(flags);
    if (shown) impl.Widget->show();  // changing the flags hides a window
  }

  static void ApplySize(TForm& Form) {
    TForm::Impl& impl = *Form.FImpl;
    if (Form.FBorderStyle == TFormBorderStyle::bsSingle) {
      impl.Widget->setFixedSize(impl.ClientWidth, impl.ClientHeight);
    } else {
      impl.Widget->setMinimumSize(0, 0);
      impl.Widget->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
      impl.Widget->resize(impl.ClientWidth, impl.ClientHeight);
    }
  }

  // Qt's setTabOrder does not move compound widgets (the memo) reliably; a widget that is given a
  // parent again goes to the end of the focus chain, so the controls are re-parented in order.
  static void ApplyTabOrder(TForm& Form) {
    std::vector<TControl*> controls;
    for (TComponent* component : Form.Components())
      if (auto* control = dynamic_cast<TControl*>(component); control && control->TabOrder() >= 0)
        controls.push_back(control);
    std::stable_sort(controls.begin(), controls.end(),
                     [](TControl* a, TControl* b) { return a->TabOrder() < b->TabOrder(); });
    QWidget holder;
    QWidget* form = Form.FImpl->Widget.get();
    for (TControl* control : controls) {
      auto* widget = static_cast<QWidget*>(control->Widget());
      QRect geometry = widget->geometry();
      bool shown = !widget->isHidden();
      widget->setParent(&holder);
      widget->setParent(form);
      widget->setGeometry(geometry);
      if (shown) widget->show();
    }
  }
};

TForm::TForm(TComponent* AOwner) : TWinControl(AOwner), FImpl(std::make_unique<Impl>()) {
  Application().Initialize();
  FImpl->Widget = std::make_unique<FormWidget>(this);
  FImpl->Widget->setAttribute(Qt::WA_DeleteOnClose, false);
  FormAccess::ApplyFlags(*this);
  PaintWith(FImpl->Widget.get(), FColor, QPalette::Window);
  FImpl->Widget->setWindowIcon(ToQIcon(nullptr));  // the application's icon
  RegisterFormWidget(this);
  SetVisible(false);
}

TForm::~TForm() {
  UnregisterFormWidget(this);
  // The controls' widgets are children of this form's widget: free the controls first.
  while (!Components().empty()) delete Components().back();
  FImpl->Widget.reset();
  if (Application().MainForm() == this) Application().SetMainForm(nullptr);
}

int TForm::ClientWidth() const { return FImpl->ClientWidth; }
int TForm::ClientHeight() const { return FImpl->ClientHeight; }

void TForm::SetClientSize(int Width, int Height) {
  FImpl->ClientWidth = std::max(Width, 0);
  FImpl->ClientHeight = std::max(Height, 0);
  FormAccess::ApplySize(*this);
}

void TForm::SetBorderStyle(TFormBorderStyle Value) {
  FBorderStyle = Value;
  FormAccess::ApplyFlags(*this);
  FormAccess::ApplySize(*this);
}

void TForm::SetBorderIcons(const std::vector<TBorderIcon>& Value) {
  auto has = [&](TBorderIcon icon) {
    return std::find(Value.begin(), Value.end(), icon) != Value.end();
  };
  FImpl->SystemMenu = has(TBorderIcon::biSystemMenu);
  FImpl->Minimize = has(TBorderIcon::biMinimize);
  FImpl->Maximize = has(TBorderIcon::biMaximize);
  FormAccess::ApplyFlags(*this);
}

void TForm::SetColor(TColor Value) {
  FColor = Value;
  PaintWith(FImpl->Widget.get(), FColor, QPalette::Window);
}

void TForm::SetFont(const AnsiString& Name, int Height, int Charset) {
  TFont font;
  font.SetName(Name);
  font.SetHeight(Height);
  font.SetCharset(Charset);
  SetFont(font);
}

void TForm::SetFont(const TFont& Value) {
  FFont.Assign(Value);
  FImpl->Widget->setFont(ToQFont(Value));
}

void TForm::SetIcon(HICON Value) { FImpl->Widget->setWindowIcon(ToQIcon(Value)); }

void TForm::Show() {
  SetVisible(true);
  if (!Application().Headless()) FImpl->Widget->raise();
}

void TForm::Hide() { SetVisible(false); }

void TForm::Close() {
  TCloseAction action = TCloseAction::caHide;
  if (OnClose) OnClose(this, action);
  if (action == TCloseAction::caNone) return;
  if (Application().MainForm() == this) {
    Application().Terminate();
  } else if (action == TCloseAction::caHide) {
    Hide();
  } else {
    // Freed once the handler that closed it has returned; the handle finds it if it still lives.
    HWND handle = Handle();
    QMetaObject::invokeMethod(
        qApp, [handle] { delete FindControl(handle); }, Qt::QueuedConnection);
  }
}

bool TForm::Active() const { return FImpl->Widget->isActiveWindow(); }

void* TForm::Widget() const { return FImpl->Widget.get(); }

void TForm::CaptionChanged() { FImpl->Widget->setWindowTitle(ToQString(Caption())); }

void TForm::VisibleChanged() {
  QWidget* widget = FImpl->Widget.get();
  if (!Visible()) {
    widget->hide();
    return;
  }
  if (!FPlaced && FPosition == TPosition::poScreenCenter) {
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
      QRect area = screen->availableGeometry();
      widget->move(area.center() - QPoint(FImpl->ClientWidth / 2, FImpl->ClientHeight / 2));
    }
  }
  FPlaced = true;
  MarkNoTaskbar(widget);
  widget->show();
}

QWidget* FormWidgetOf(const TForm* Form) {
  return Form ? static_cast<QWidget*>(Form->Widget()) : nullptr;
}

// ---- controls ----

TControl::TControl(TForm* AParent) : TComponent(AParent), FParent(AParent) {}

TControl::~TControl() { delete static_cast<QWidget*>(FWidget); }

void TControl::Attach(void* Widget) {
  FWidget = Widget;
  static_cast<QWidget*>(FWidget)->setGeometry(FLeft, FTop, FWidth, FHeight);
  static_cast<QWidget*>(FWidget)->show();
}

void TControl::SetBounds(int Left, int Top, int Width, int Height) {
  FLeft = Left;
  FTop = Top;
  FWidth = std::max(Width, 0);
  FHeight = std::max(Height, 0);
  if (FWidget) static_cast<QWidget*>(FWidget)->setGeometry(FLeft, FTop, FWidth, FHeight);
  BoundsChanged();
}

void TControl::SetTabOrder(int Value) {
  FTabOrder = Value;
  if (FParent) FormAccess::ApplyTabOrder(*FParent);
}

TLabel::TLabel(TForm* AParent) : TControl(AParent) {
  auto* label = new QLabel(FormWidgetOf(AParent));
  label->setTextFormat(Qt::PlainText);
  label->setFocusPolicy(Qt::NoFocus);
  Attach(label);
}

void TLabel::SetCaption(const AnsiString& Value) {
  FCaption = Value;
  static_cast<QLabel*>(Widget())->setText(ToQString(Value));
  FitText();
}

void TLabel::SetAutoSize(bool Value) {
  FAutoSize = Value;
  FitText();
}

void TLabel::BoundsChanged() { FitText(); }

void TLabel::FitText() {
  if (!FAutoSize) return;
  QSize size = static_cast<QLabel*>(Widget())->sizeHint();
  if (size.width() == Width() && size.height() == Height()) return;
  SetBounds(Left(), Top(), size.width(), size.height());  // comes back here with the size fitting
}

// ---- memo ----

AnsiString TStrings::Strings(int Index) const {
  if (Index < 0 || Index >= Count()) return {};
  return FLines[static_cast<std::size_t>(Index)];
}

int TStrings::Add(const AnsiString& Line) {
  std::size_t start = 0;
  while (true) {
    std::size_t end = Line.find('\n', start);
    AnsiString piece = Line.substr(start, end == AnsiString::npos ? AnsiString::npos : end - start);
    if (!piece.empty() && piece.back() == '\r') piece.pop_back();
    FLines.push_back(piece);
    FMemo->LineAdded(piece);
    if (end == AnsiString::npos) break;
    start = end + 1;
  }
  return Count() - 1;
}

void TStrings::Delete(int Index) {
  if (Index < 0 || Index >= Count()) return;
  FLines.erase(FLines.begin() + Index);
  FMemo->LineDeleted(Index);
}

void TStrings::Clear() {
  FLines.clear();
  FMemo->LinesCleared();
}

TMemo::TMemo(TForm* AParent) : TControl(AParent) {
  auto* edit = new QPlainTextEdit(FormWidgetOf(AParent));
  edit->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  edit->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  edit->setUndoRedoEnabled(false);
  Attach(edit);
}

TMemo::~TMemo() = default;

void TMemo::SetReadOnly(bool Value) {
  FReadOnly = Value;
  static_cast<QPlainTextEdit*>(Widget())->setReadOnly(Value);
}

void TMemo::SetScrollBars(TScrollStyle Value) {
  auto* edit = static_cast<QPlainTextEdit*>(Widget());
  bool vertical = Value == TScrollStyle::ssVertical || Value == TScrollStyle::ssBoth;
  bool horizontal = Value == TScrollStyle::ssHorizontal || Value == TScrollStyle::ssBoth;
  edit->setVerticalScrollBarPolicy(vertical ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  edit->setHorizontalScrollBarPolicy(horizontal ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
  // A horizontal bar means long lines are not wrapped.
  edit->setLineWrapMode(horizontal ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
}

void TMemo::SetColor(TColor Value) {
  PaintWith(static_cast<QWidget*>(Widget()), Value, QPalette::Base);
}

void TMemo::LineAdded(const AnsiString& Line) {
  auto* edit = static_cast<QPlainTextEdit*>(Widget());
  QTextDocument* document = edit->document();
  QTextCursor cursor(document);
  cursor.movePosition(QTextCursor::End);
  // The document always has one block; the first line goes into it, each later line into a new one.
  if (FLines.Count() > 1) cursor.insertBlock();
  cursor.insertText(ToQString(Line));
  edit->verticalScrollBar()->setValue(edit->verticalScrollBar()->maximum());
}

void TMemo::LineDeleted(int Index) {
  auto* edit = static_cast<QPlainTextEdit*>(Widget());
  QTextDocument* document = edit->document();
  if (FLines.Count() == 0) {
    document->clear();
    return;
  }
  QTextBlock block = document->findBlockByNumber(Index);
  if (!block.isValid()) return;
  QTextCursor cursor(document);
  if (block.next().isValid()) {
    // The line and the break after it.
    cursor.setPosition(block.position());
    cursor.setPosition(block.next().position(), QTextCursor::KeepAnchor);
  } else {
    // The last line and the break before it.
    QTextBlock previous = block.previous();
    cursor.setPosition(previous.position() + previous.length() - 1);
    cursor.setPosition(block.position() + block.length() - 1, QTextCursor::KeepAnchor);
  }
  cursor.removeSelectedText();
}

void TMemo::LinesCleared() { static_cast<QPlainTextEdit*>(Widget())->document()->clear(); }

// ---- button ----

TBitBtn::TBitBtn(TForm* AParent) : TControl(AParent) {
  auto* button = new QPushButton(FormWidgetOf(AParent));
  QObject::connect(button, &QPushButton::clicked, button,
                   [this] { GuardedCall(this, [this] { Click(); }); });
  Attach(button);
}

void TBitBtn::SetKind(TBitBtnKind Value) {
  FKind = Value;
  auto* button = static_cast<QPushButton*>(Widget());
  if (FKind == TBitBtnKind::bkClose) {
    SetCaption(Sjis(kCloseCaption));
    button->setIcon(QApplication::style()->standardIcon(QStyle::SP_DialogCloseButton));
  }
}

void TBitBtn::SetCaption(const AnsiString& Value) {
  FCaption = Value;
  static_cast<QPushButton*>(Widget())->setText(ToQString(Value));
}

void TBitBtn::Click() {
  if (OnClick) {
    OnClick(this);
  } else if (FKind == TBitBtnKind::bkClose && Parent()) {
    Parent()->Close();
  }
}

}  // namespace ovelta
