// The example's window and its scene: a dusk sky of one-row fills, a building of masked fills, a
// pond with fish drawn as keyed, mirrored and surface-to-surface sprites, a starburst and frames in
// XOR, and a greeting drawn letter by letter from TFontPat patterns.
#include "DrawingWindow.h"

#include <array>
#include <cmath>
#include <vector>

#include "graphics/Ovfpat.h"
#include "platform/core/Text.h"

namespace {

using ovelta::Byte;
using ovelta::TOvDib;

constexpr int kWidth = 320;
constexpr int kHeight = 200;
constexpr int kZoom = 2;
constexpr int kMargin = 10;

// The palette's layout.
constexpr Byte kKey = 0;                      // black; the transparent index of sprites and letters
constexpr Byte kSkyTop = 1, kSkyBottom = 63;  // 63 entries, dark blue to evening orange
constexpr Byte kGrass = 64;                   // 32 greens, light to dark
constexpr Byte kSun = 96;                     // 32 yellows
constexpr Byte kWhite = 200, kShadow = 204, kFishBody = 205, kFishFin = 206, kEye = 207;
constexpr Byte kWall = 208, kWindow = 209, kBrick = 210, kHatch = 211, kWater = 212, kFence = 213;
// XOR with this over the sky gives the sky's own ramp read backwards.
constexpr Byte kSkyFlip = 0x3F;

constexpr int kHorizon = 140;
constexpr int kFishW = 32, kFishH = 20;

ovelta::RGBQUAD Rgb(int R, int G, int B) {
  return ovelta::RGBQUAD{static_cast<Byte>(B), static_cast<Byte>(G), static_cast<Byte>(R), 0};
}

ovelta::RGBQUAD Mix(ovelta::RGBQUAD A, ovelta::RGBQUAD B, int Step, int Steps) {
  auto mix = [&](Byte a, Byte b) { return a + (b - a) * Step / Steps; };
  return Rgb(mix(A.rgbRed, B.rgbRed), mix(A.rgbGreen, B.rgbGreen), mix(A.rgbBlue, B.rgbBlue));
}

std::array<ovelta::RGBQUAD, 256> ScenePalette() {
  std::array<ovelta::RGBQUAD, 256> p{};
  for (int i = kSkyTop; i <= kSkyBottom; ++i)
    p[i] = Mix(Rgb(16, 24, 84), Rgb(255, 170, 110), i - kSkyTop, kSkyBottom - kSkyTop);
  for (int i = 0; i < 32; ++i) p[kGrass + i] = Mix(Rgb(96, 160, 72), Rgb(24, 70, 32), i, 31);
  for (int i = 0; i < 32; ++i) p[kSun + i] = Mix(Rgb(255, 250, 200), Rgb(255, 180, 40), i, 31);
  p[kWhite] = Rgb(255, 255, 255);
  p[kShadow] = Rgb(30, 24, 40);
  p[kFishBody] = Rgb(240, 120, 40);
  p[kFishFin] = Rgb(190, 60, 30);
  p[kEye] = Rgb(250, 250, 240);
  p[kWall] = Rgb(150, 140, 130);
  p[kWindow] = Rgb(255, 220, 110);
  p[kBrick] = Rgb(120, 70, 60);
  p[kHatch] = Rgb(60, 55, 70);
  p[kWater] = Rgb(50, 110, 170);
  p[kFence] = Rgb(90, 60, 40);
  return p;
}

// A fish facing right, on the key colour.
std::vector<Byte> FishPattern() {
  std::vector<Byte> p(kFishW * kFishH, kKey);
  auto at = [&](int x, int y) -> Byte& { return p[y * kFishW + x]; };
  for (int y = 0; y < kFishH; ++y)
    for (int x = 0; x < kFishW; ++x) {
      const double ex = (x - 19.0) / 12.0, ey = (y - 10.0) / 7.0;
      if (ex * ex + ey * ey <= 1.0) at(x, y) = (x % 5 == 0 && x < 24) ? kFishFin : kFishBody;
      if (x < 9 && std::abs(y - 10) <= 8 - x) at(x, y) = kFishFin;  // the tail
    }
  for (int x = 14; x <= 21; ++x)
    for (int y = 1; y < 4 - (x - 14) / 3; ++y) at(x, y) = kFishFin;  // the fin
  at(26, 8) = at(27, 8) = at(26, 9) = kEye;
  at(27, 9) = kShadow;
  return p;
}

// A filled disc from horizontal lines.
void Disc(TOvDib& Dib, int Cx, int Cy, int R, Byte Colour) {
  for (int dy = -R; dy <= R; ++dy) {
    const int dx = static_cast<int>(std::sqrt(static_cast<double>(R * R - dy * dy)));
    Dib.Line(Cx - dx, Cy + dy, Cx + dx, Cy + dy, Colour);
  }
}

// Draws Text from (X, Y) one character at a time; single-byte characters take half the width.
int DrawText(TOvDib& Dib, ovelta::TFontPat& Letters, const ovelta::AnsiString& Text, int X, int Y) {
  Letters.SetText(Text);
  const int size = Letters.Size();
  for (int index = Letters.Index(); index != 0; index = Letters.NextLetter()) {
    Dib.PasPat(X, Y, size, size, Letters.Pattern, Letters.Background());
    X += ovelta::IsDBCSLeadByte(Text[index - 1]) ? size : size / 2;
  }
  return X;
}

}  // namespace

DrawingWindow::DrawingWindow() {
  setWindowTitle("Ovelta drawing");
  setFixedSize(kWidth * kZoom + 2 * kMargin, kHeight * kZoom + 2 * kMargin);
  FImage = std::make_unique<ovelta::TImage>(nullptr);
  FImage->SetParentWidget(this);
  FImage->SetStretch(true);
  FImage->SetBounds(kMargin, kMargin, kWidth * kZoom, kHeight * kZoom);
  FDib = std::make_unique<TOvDib>(nullptr, kWidth, kHeight);
  FDib->SetImage(FImage.get());
  FReady = DrawScene();
}

bool DrawingWindow::DrawScene() {
  TOvDib& dib = *FDib;
  dib.ModifiedOff();  // one repaint for the whole scene
  const auto palette = ScenePalette();
  dib.SetPal2(palette.data());
  bool ok = true;

  // Sky and grass: one plain fill per row.
  for (int y = 0; y < kHorizon; ++y)
    ok = dib.BoxFill(0, y, kWidth - 1, y,
                     static_cast<Byte>(kSkyTop + y * (kSkyBottom - kSkyTop) / (kHorizon - 1))) &&
         ok;
  for (int y = kHorizon; y < kHeight; ++y)
    ok = dib.BoxFill(0, y, kWidth - 1, y, static_cast<Byte>(kGrass + (y - kHorizon) / 2)) && ok;
  Disc(dib, 250, 62, 20, kSun + 4);
  Disc(dib, 250, 62, 14, kSun);

  // The building: a wall, bricks and a hatched shadow through masks, lit windows.
  const Byte bricks[4] = {0xFF, 0x80, 0xFF, 0x08};  // 8 x 4: courses with staggered joints
  const Byte hatch[4] = {0x80, 0x40, 0x20, 0x10};   // 4 x 4: a diagonal
  const Byte checker[2] = {0x80, 0x40};             // 2 x 2
  ok = dib.BoxFill(24, 72, 104, kHorizon + 12, kWall) && ok;
  ok = dib.BoxFillM(24, 72, 104, kHorizon + 12, kBrick, bricks, 8, 4) && ok;
  ok = dib.BoxFillM(105, 80, 118, kHorizon + 12, kHatch, hatch, 4, 4) && ok;
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col)
      ok = dib.BoxFill(34 + col * 24, 84 + row * 20, 46 + col * 24, 94 + row * 20, kWindow) && ok;
  ok = dib.BoxFillM(0, kHorizon + 18, 140, kHorizon + 26, kFence, checker, 2, 2) && ok;

  // The pond and its fish: keyed, mirrored by Reverse, mirrored by argument, and from a sprite
  // sheet on a second surface.
  for (int dy = -20; dy <= 20; ++dy) {
    const int dx = static_cast<int>(70 * std::sqrt(1.0 - dy * dy / 400.0));
    ok = dib.Line(230 - dx, 176 + dy / 2, 230 + dx, 176 + dy / 2, kWater) && ok;
  }
  const std::vector<Byte> fish = FishPattern();
  ok = dib.PasPat(176, 160, kFishW, kFishH, fish.data(), kKey) && ok;
  dib.SetReverse(true);
  ok = dib.PasPat(236, 172, kFishW, kFishH, fish.data(), kKey) && ok;
  dib.SetReverse(false);
  ok = dib.PasPatWappi(270, 158, kFishW, kFishH, fish.data(), kKey, true) && ok;
  TOvDib sheet(nullptr, kFishW, kFishH);
  ok = sheet.PutPat(0, 0, kFishW, kFishH, fish.data()) && ok;
  ok = dib.PasDib(200, 180, &sheet, 0, 0, kFishW, kFishH, kKey) && ok;

  // XOR: a starburst around the sun (the sky's ramp read backwards) and a double frame.
  dib.SetMethod(ovelta::Ov_XOR);
  for (int ray = 0; ray < 32; ++ray) {
    const double a = ray * 3.14159265358979 / 16;
    ok = dib.Line(250 + static_cast<int>(26 * std::cos(a)), 62 + static_cast<int>(26 * std::sin(a)),
                  250 + static_cast<int>(60 * std::cos(a)), 62 + static_cast<int>(60 * std::sin(a)),
                  kSkyFlip) &&
         ok;
  }
  ok = dib.Box(4, 4, 196, 38, kSkyFlip) && ok;
  ok = dib.Box(6, 6, 194, 36, kSkyFlip) && ok;
  dib.SetMethod(ovelta::Ov_SET);

  // The greeting, each letter a TFontPat pattern drawn keyed: a shadow, then the letters.
  ovelta::TFontPat letters(nullptr);
  letters.SetSize(20);
  letters.SetBack(kKey);
  const ovelta::AnsiString greeting = ovelta::Sjis("こんにちは、Ovelta!");
  letters.SetFore(kShadow);
  DrawText(dib, letters, greeting, 13, 12);
  letters.SetFore(kWhite);
  DrawText(dib, letters, greeting, 12, 11);

  dib.ModifiedOn();
  return ok;
}
