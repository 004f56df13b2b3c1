// The example's window: builds a pack from the art files, loads a BMP and an ACT palette from it
// onto two surfaces linked to image controls, and draws on them.
#include "SurfaceWindow.h"

#include <QLabel>

#include "platform/core/Resources.h"

namespace {

constexpr int kSceneWidth = 160;
constexpr int kSceneHeight = 100;
constexpr int kZoom = 2;
constexpr int kMargin = 12;
constexpr int kLabelHeight = 22;

// Palette indices of the scene's layout (shared by its colour table and the ACT palette).
constexpr ovelta::Byte kWhite = 255;
constexpr ovelta::Byte kOutline = 254;
constexpr ovelta::Byte kSunBright = 175;
constexpr int kSunX = 118, kSunY = 30;

}  // namespace

SurfaceWindow::SurfaceWindow(const std::string& Art, const std::string& Work) {
  setWindowTitle("Ovelta drawing surfaces");
  const int side = kSceneWidth * kZoom;
  setFixedSize(2 * side + 3 * kMargin, kSceneHeight * kZoom + kLabelHeight + 2 * kMargin);

  auto place = [&](std::unique_ptr<ovelta::TImage>& Image, int Left, const char* Caption) {
    auto* label = new QLabel(Caption, this);
    label->setGeometry(Left, kMargin / 2, side, kLabelHeight);
    Image = std::make_unique<ovelta::TImage>(nullptr);
    Image->SetParentWidget(this);
    Image->SetStretch(true);
    Image->SetBounds(Left, kMargin / 2 + kLabelHeight, side, kSceneHeight * kZoom);
  };
  place(FDayImage, kMargin, "scene.bmp with its own colour table");
  place(FDuskImage, 2 * kMargin + side, "the same scene under dusk.act");

  if (!BuildPack(Art, Work)) return;
  FDay = std::make_unique<ovelta::TOvDib>(nullptr, kSceneWidth, kSceneHeight);
  FDusk = std::make_unique<ovelta::TOvDib>(nullptr, kSceneWidth, kSceneHeight);
  FDay->SetImage(FDayImage.get());
  FDusk->SetImage(FDuskImage.get());
  FReady = DrawScene(*FDay, nullptr) && DrawScene(*FDusk, "dusk.act");
  if (!FReady) FProblem = "the scene could not be loaded from the pack";
}

bool SurfaceWindow::BuildPack(const std::string& Art, const std::string& Work) {
  const std::string pack = Work + "/art.pak";
  FPack.SetReadOnly(false);
  if (!FPack.NewPack(pack) || !FPack.AddFile("scene.bmp", Art + "/scene.bmp", true) ||
      !FPack.AddFile("dusk.act", Art + "/dusk.act", false) || !FPack.EndPack()) {
    FProblem = "the pack could not be built in " + Work;
    return false;
  }
  FPack.SetReadOnly(true);
  if (!FPack.LoadPack(pack)) {
    FProblem = "the pack could not be opened";
    return false;
  }
  return true;
}

bool SurfaceWindow::DrawScene(ovelta::TOvDib& Dib, const char* Act) {
  // One repaint for the whole drawing.
  Dib.ModifiedOff();
  bool ok = Dib.DrawBmpPack(&FPack, "scene.bmp", 0, 0);
  ok = ok && Dib.DrawBmpResource(ovelta::MainInstance(), "BADGE", 8, 8);
  for (int ray = 0; ray < 12; ++ray) {
    const int dx[] = {24, 21, 12, 0, -12, -21, -24, -21, -12, 0, 12, 21};
    const int dy[] = {0, 12, 21, 24, 21, 12, 0, -12, -21, -24, -21, -12};
    Dib.Line(kSunX + dx[ray] * 3 / 4, kSunY + dy[ray] * 3 / 4, kSunX + dx[ray], kSunY + dy[ray],
             kSunBright);
  }
  Dib.Box(0, 0, kSceneWidth - 1, kSceneHeight - 1, kOutline);
  Dib.Box(1, 1, kSceneWidth - 2, kSceneHeight - 2, kWhite);
  if (Act) ok = ok && Dib.SetActPack(&FPack, Act);
  Dib.ModifiedOn();
  return ok;
}
