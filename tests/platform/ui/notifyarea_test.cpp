// The notification-area service: the recorder's view of the shell's rules, and the desktop tray
// on Qt (icons made and removed, tips converted from CP932 and bounded by the record, tray clicks
// turned into the callback message with the mouse message numbers).
#include <gtest/gtest.h>

#include <QApplication>
#include <QSystemTrayIcon>

#include <cstring>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/NotifyArea.h"
#include "platform/core/Text.h"
#include "support/EventLoop.h"
#include "support/UiApplication.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {
namespace {

class MessageSink : public TWinControl {
 public:
  using TWinControl::TWinControl;
  void Dispatch(TMessage& Message) override { Received.push_back(Message); }
  std::vector<TMessage> Received;
};

NOTIFYICONDATAA IconRecord(HWND Window, unsigned Id, const AnsiString& Tip) {
  NOTIFYICONDATAA data;
  data.cbSize = NOTIFYICONDATAA_V2_SIZE;
  data.hWnd = Window;
  data.uID = Id;
  data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  data.uCallbackMessage = WM_USER;
  std::memcpy(data.szTip, Tip.c_str(), std::min<std::size_t>(Tip.size() + 1, sizeof(data.szTip)));
  return data;
}

QList<QSystemTrayIcon*> TrayIcons() { return qApp->findChildren<QSystemTrayIcon*>(); }

TEST(NotifyAreaRecorder, FollowsTheShellsRulesAndDeliversMouseActivity) {
  test::NotifyAreaRecorder recorder;
  MessageSink sink(nullptr);
  NOTIFYICONDATAA data = IconRecord(sink.Handle(), 3, "tip");
  EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &data));  // not there yet
  EXPECT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, &data));  // already there
  EXPECT_FALSE(Shell_NotifyIconA(NIM_ADD, nullptr));
  EXPECT_FALSE(Shell_NotifyIconA(7, &data));
  ASSERT_EQ(recorder.Icons().size(), 1u);

  std::strcpy(data.szTip, "new tip");
  data.uFlags = NIF_TIP;
  EXPECT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data));
  EXPECT_STREQ(recorder.Icons()[0].szTip, "new tip");

  EXPECT_TRUE(recorder.Mouse(sink.Handle(), 3, WM_RBUTTONDOWN));
  EXPECT_FALSE(recorder.Mouse(sink.Handle(), 4, WM_RBUTTONDOWN));
  ASSERT_EQ(sink.Received.size(), 1u);
  EXPECT_EQ(sink.Received[0].Msg, WM_USER);
  EXPECT_EQ(sink.Received[0].WParam, 3u);
  EXPECT_EQ(sink.Received[0].LParam, static_cast<LPARAM>(WM_RBUTTONDOWN));

  EXPECT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_DELETE, &data));
  EXPECT_TRUE(recorder.Icons().empty());
  // Every call is recorded, refused ones included; a null record never reaches the service.
  EXPECT_EQ(recorder.Calls().size(), 7u);
}

TEST(DesktopTray, IconsAreMadeChangedAndRemovedWithTheirTips) {
  MessageSink sink(nullptr);
  NOTIFYICONDATAA data = IconRecord(sink.Handle(), 0, Sjis("メーリッグ"));
  int before = TrayIcons().size();
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
  QList<QSystemTrayIcon*> icons = TrayIcons();
  ASSERT_EQ(icons.size(), before + 1);
  QSystemTrayIcon* icon = icons.back();
  EXPECT_EQ(icon->toolTip(), QString::fromUtf8("メーリッグ"));
  EXPECT_FALSE(icon->icon().isNull());  // the application's icon when none is given

  // A tip that fills the member without a terminating zero is read up to the member's end.
  std::memset(data.szTip, 'x', sizeof(data.szTip));
  data.uFlags = NIF_TIP;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_MODIFY, &data));
  EXPECT_EQ(icon->toolTip(), QString(kNotifyTipSize, QChar('x')));

  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
  EXPECT_TRUE(test::RunUntil([&] { return TrayIcons().size() == before; }));
  EXPECT_FALSE(Shell_NotifyIconA(NIM_MODIFY, &data));
}

TEST(DesktopTray, ClicksArriveAsTheCallbackMessageWithTheMouseMessage) {
  MessageSink sink(nullptr);
  NOTIFYICONDATAA data = IconRecord(sink.Handle(), 5, "tip");
  data.uCallbackMessage = WM_USER + 9;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_ADD, &data));
  QSystemTrayIcon* icon = TrayIcons().back();

  const struct {
    QSystemTrayIcon::ActivationReason Reason;
    unsigned Mouse;
  } kCases[] = {
      {QSystemTrayIcon::Trigger, WM_LBUTTONDOWN},
      {QSystemTrayIcon::DoubleClick, WM_LBUTTONDBLCLK},
      {QSystemTrayIcon::Context, WM_RBUTTONDOWN},
  };
  for (const auto& c : kCases) {
    sink.Received.clear();
    emit icon->activated(c.Reason);
    ASSERT_EQ(sink.Received.size(), 1u) << c.Mouse;
    EXPECT_EQ(sink.Received[0].Msg, WM_USER + 9);
    EXPECT_EQ(sink.Received[0].WParam, 5u);
    EXPECT_EQ(sink.Received[0].LParam, static_cast<LPARAM>(c.Mouse));
  }
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &data));
}

TEST(DesktopTray, ThereIsNoNotificationAreaWithoutADisplay) {
  EXPECT_TRUE(Application().Headless());
  EXPECT_FALSE(NotifyAreaAvailable());
}

}  // namespace
}  // namespace ovelta
