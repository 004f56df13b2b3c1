// Icon resources: handles to the image sets under ":/icons/<NAME>/", and their toolkit icons.
#include "platform/ui/Icons.h"

#include <QDir>
#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include <cstdint>
#include <mutex>

#include "platform/ui/Application.h"
#include "platform/ui/QtSupport_p.h"

namespace ovelta {

namespace {

struct IconSet {
  std::string Name;
  std::vector<std::string> Files;
};

// Handle n (from 1) is entry n - 1; the stand-in has its own number past any real one.
std::mutex gLock;
std::vector<IconSet> gIcons;
constexpr std::uintptr_t kStandIn = 0xFFFF;

HICON ToHandle(std::uintptr_t Number) { return reinterpret_cast<HICON>(Number); }

// A small plain picture: a blue-framed white envelope, drawn when a program has no icon.
QIcon DrawStandIn() {
  QIcon icon;
  for (int size : {16, 32}) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setPen(QColor(0, 0, 128));
    painter.setBrush(Qt::white);
    int top = size / 4;
    painter.drawRect(0, top, size - 1, size - 1 - 2 * top);
    painter.drawLine(0, top, size / 2, size / 2);
    painter.drawLine(size - 1, top, size / 2, size / 2);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}

}  // namespace

HINSTANCE HInstance() {
  // The program and its resources are one module here; the value only has to be non-null.
  return reinterpret_cast<HINSTANCE>(std::uintptr_t{0x400000});
}

HICON LoadIconA(HINSTANCE Instance, const char* Name) {
  if (!Instance || !Name || !*Name) return nullptr;
  std::lock_guard<std::mutex> guard(gLock);
  for (std::size_t i = 0; i < gIcons.size(); ++i)
    if (gIcons[i].Name == Name) return ToHandle(i + 1);
  QDir folder(QStringLiteral(":/icons/") + QString::fromUtf8(Name));
  const QStringList entries = folder.entryList(QDir::Files, QDir::Name);
  if (entries.isEmpty()) return nullptr;
  IconSet set{Name, {}};
  for (const QString& entry : entries) set.Files.push_back(folder.filePath(entry).toStdString());
  gIcons.push_back(std::move(set));
  return ToHandle(gIcons.size());
}

HICON StandInIcon() { return ToHandle(kStandIn); }

std::vector<std::string> IconImageFiles(HICON Icon) {
  auto number = reinterpret_cast<std::uintptr_t>(Icon);
  std::lock_guard<std::mutex> guard(gLock);
  if (number == 0 || number > gIcons.size()) return {};
  return gIcons[number - 1].Files;
}

QIcon ToQIcon(HICON Icon) {
  if (!Icon) Icon = Application().Icon();
  std::vector<std::string> files = IconImageFiles(Icon);
  if (files.empty()) return DrawStandIn();
  QIcon icon;
  for (const std::string& file : files) icon.addFile(QString::fromStdString(file));
  return icon;
}

}  // namespace ovelta
