// Private helpers shared by the platform's Qt code: text conversion at the UI boundary, icons,
// the widgets behind forms, and the window-system hint that keeps a window out of the taskbar.
#pragma once

#include <QIcon>
#include <QString>

#include "platform/ui/Icons.h"
#include "platform/core/Text.h"
#include "platform/core/Types.h"

class QWidget;

namespace ovelta {

class TForm;

// CP932 bytes to the toolkit's Unicode and back.
inline QString ToQString(const AnsiString& Text) {
  return QString::fromStdString(Cp932ToUtf8(Text));
}
inline AnsiString FromQString(const QString& Text) { return Utf8ToCp932(Text.toStdString()); }

// The toolkit icon of an icon handle: the resource's images, the application's icon for null,
// the stand-in picture for the stand-in handle (or anything unknown).
QIcon ToQIcon(HICON Icon);

// Marks a top-level widget as one without a taskbar or pager entry. Before the window is mapped the
// mark goes into its state property; on a mapped window the window manager is asked to add it.
// Does nothing outside X11.
void MarkNoTaskbar(QWidget* Widget);

// Called by forms: the widget of each live form, for activation and hiding.
void RegisterFormWidget(TForm* Form);
void UnregisterFormWidget(TForm* Form);
QWidget* FormWidgetOf(const TForm* Form);

}  // namespace ovelta

namespace ovelta {

// Removes every icon the desktop's tray shows for this process (the toolkit is about to end).
void ReleaseNotifyIcons();

}  // namespace ovelta
