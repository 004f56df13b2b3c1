// The example's window: two image controls, each showing its own 8-bit drawing surface.
#pragma once

#include <QWidget>

#include <memory>
#include <string>

#include "graphics/Ovdib.h"
#include "pack/Ovpack.h"
#include "platform/gdi/Graphics.h"

class SurfaceWindow : public QWidget {
 public:
  // Art is the folder holding scene.bmp and dusk.act; the pack is built from them in Work.
  SurfaceWindow(const std::string& Art, const std::string& Work);

  // False, with the reason, when the pack could not be built or read.
  bool Ready() const { return FReady; }
  const std::string& Problem() const { return FProblem; }

 private:
  bool BuildPack(const std::string& Art, const std::string& Work);
  // Loads the scene from the pack onto Dib, puts the badge and the drawing on top, and with Act
  // switches to that palette.
  bool DrawScene(ovelta::TOvDib& Dib, const char* Act);

  ovelta::TOvPack FPack;
  // The images outlive the surfaces that are linked to them.
  std::unique_ptr<ovelta::TImage> FDayImage, FDuskImage;
  std::unique_ptr<ovelta::TOvDib> FDay, FDusk;
  bool FReady = false;
  std::string FProblem;
};
