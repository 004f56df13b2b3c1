// The image control TImage: a widget that paints its picture's bitmap straight from the bitmap
// section's bytes and repaints when the picture changes.
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QWidget>

#include <algorithm>

#include "platform/gdi/Gdi_p.h"

namespace ovelta {

namespace {

constexpr int kDefaultSide = 105;

class TImageWidget final : public QWidget {
 public:
  explicit TImageWidget(TImage* Control) : FControl(Control) {
    setAttribute(Qt::WA_OpaquePaintEvent, false);
    resize(kDefaultSide, kDefaultSide);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    TPicture* picture = FControl->Picture();
    if (!picture->HasBitmap()) return;
    const gdi::TSection* section = gdi::SectionOf(picture->Bitmap()->Handle());
    if (!section) return;
    QPainter painter(this);
    const QImage view = section->View();  // the section's own bytes, painted in place
    if (FControl->Stretch())
      painter.drawImage(rect(), view);
    else
      painter.drawImage(0, 0, view);
  }

 private:
  TImage* FControl;
};

}  // namespace

struct TImage::TState {
  QPointer<QWidget> Widget;
};

TImage::TImage(TComponent* AOwner) : TComponent(AOwner), FState(std::make_unique<TState>()) {
  EnsureGuiApplication();
  FState->Widget = new TImageWidget(this);
  FPicture.SetOnChange([this](TObject* Sender) { PictureChanged(Sender); });
}

TImage::~TImage() {
  FPicture.SetOnChange(nullptr);
  delete FState->Widget.data();  // null when its parent window went first
}

int TImage::Left() const {
  const QWidget* widget = Widget();
  return widget ? widget->x() : 0;
}
int TImage::Top() const {
  const QWidget* widget = Widget();
  return widget ? widget->y() : 0;
}
int TImage::Width() const {
  const QWidget* widget = Widget();
  return widget ? widget->width() : 0;
}
int TImage::Height() const {
  const QWidget* widget = Widget();
  return widget ? widget->height() : 0;
}

void TImage::SetBounds(int ALeft, int ATop, int AWidth, int AHeight) {
  if (QWidget* widget = Widget())
    widget->setGeometry(ALeft, ATop, std::max(0, AWidth), std::max(0, AHeight));
}

void TImage::SetStretch(bool Value) {
  if (FStretch == Value) return;
  FStretch = Value;
  Invalidate();
}

void TImage::Invalidate() {
  ++FRepaintRequests;
  if (QWidget* widget = Widget()) widget->update();
}

void TImage::Update() {
  ++FRepaintRequests;
  QWidget* widget = Widget();
  if (!widget) return;
  if (widget->isVisible())
    widget->repaint();
  else
    widget->update();
}

QWidget* TImage::Widget() const { return FState->Widget.data(); }

void TImage::SetParentWidget(QWidget* Parent) {
  QWidget* widget = Widget();
  if (!widget) return;
  widget->setParent(Parent);
  if (Parent) widget->show();  // a child shows with its window
}

void TImage::PictureChanged(TObject*) { Invalidate(); }

}  // namespace ovelta
