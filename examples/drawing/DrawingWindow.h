// The example's window: one image control showing an 8-bit surface with the scene drawn on it.
#pragma once

#include <QWidget>

#include <memory>

#include "graphics/Ovdib.h"
#include "platform/gdi/Graphics.h"

class DrawingWindow : public QWidget {
 public:
  DrawingWindow();
  // False when a drawing operation failed.
  bool Ready() const { return FReady; }

 private:
  bool DrawScene();

  // The image outlives the surface linked to it.
  std::unique_ptr<ovelta::TImage> FImage;
  std::unique_ptr<ovelta::TOvDib> FDib;
  bool FReady = false;
};
