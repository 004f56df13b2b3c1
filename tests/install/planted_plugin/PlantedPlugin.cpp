// A toolkit plugin that a local user plants in a directory of their own and names through the
// environment (QT_PLUGIN_PATH, QT_QPA_GENERIC_PLUGINS): the install test starts the capable merlig
// with it and checks that it is never loaded. Loaded, it tells so on standard error, with the
// capabilities it found itself running with.
#include <QGenericPlugin>

#include <cstdio>
#include <cstring>

namespace {

// Runs as soon as the library is loaded, before Qt asks it for anything.
struct Announce {
  Announce() {
    char line[256] = "";
    if (std::FILE* status = std::fopen("/proc/self/status", "r")) {
      char text[256];
      while (std::fgets(text, sizeof text, status))
        if (std::strncmp(text, "CapEff:", 7) == 0) std::snprintf(line, sizeof line, "%s", text);
      std::fclose(status);
    }
    std::fprintf(stderr, "PLANTED PLUGIN LOADED %s", line);
    std::fflush(stderr);
  }
} gAnnounce;

}  // namespace

class PlantedPlugin : public QGenericPlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "planted.json")

 public:
  QObject* create(const QString&, const QString&) override { return nullptr; }
};

#include "PlantedPlugin.moc"
