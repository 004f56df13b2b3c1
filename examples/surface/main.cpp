// The drawing-surface example. Options: --art DIR (the art files; the source folder by default),
// --quit-after MS (close by itself, for screenshots).
#include <QApplication>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "SurfaceWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  std::string art = MERLIG_EXAMPLE_ART;
  int quitAfter = 0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--art") == 0) art = argv[i + 1];
    if (std::strcmp(argv[i], "--quit-after") == 0) quitAfter = std::atoi(argv[i + 1]);
  }
  QTemporaryDir work;
  SurfaceWindow window(art, work.path().toStdString());
  if (!window.Ready()) {
    std::fprintf(stderr, "example_surface: %s\n", window.Problem().c_str());
    return 1;
  }
  window.show();
  if (quitAfter > 0) QTimer::singleShot(quitAfter, &app, &QApplication::quit);
  return app.exec();
}
