// The drawing example. Option: --quit-after MS (close by itself, for screenshots and the smoke
// test).
#include <QApplication>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DrawingWindow.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  int quitAfter = 0;
  for (int i = 1; i + 1 < argc; i += 2)
    if (std::strcmp(argv[i], "--quit-after") == 0) quitAfter = std::atoi(argv[i + 1]);
  DrawingWindow window;
  if (!window.Ready()) {
    std::fprintf(stderr, "example_drawing: the scene could not be drawn\n");
    return 1;
  }
  window.show();
  if (quitAfter > 0) QTimer::singleShot(quitAfter, &app, &QApplication::quit);
  return app.exec();
}
