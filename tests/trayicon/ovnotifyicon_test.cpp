// TOvNotifyIcon and TOvNotifyWin through the recording notification area: which shell calls are
// made and with what record, the hidden/visible states, the tip's byte bound, the mapping of the
// shell's mouse reports to the events, and the notify window as the sender.
#include <gtest/gtest.h>

#include <QMenu>

#include <cstring>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/core/Component.h"
#include "platform/ui/Menus.h"
#include "platform/ui/NotifyArea.h"
#include "platform/core/Text.h"
#include "support/UiApplication.h"
#include "trayicon/Ovnotifyicon.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {
namespace {

// Some icon handle other than the application's.
HICON OtherIcon() { return reinterpret_cast<HICON>(std::uintptr_t{0x4321}); }

class NotifyIconTest : public ::testing::Test {
 protected:
  test::NotifyAreaRecorder Shell;
  TComponent Owner{nullptr};
  TOvNotifyIcon* Icon = new TOvNotifyIcon(&Owner);

  const std::vector<test::NotifyAreaRecorder::Call>& Calls() { return Shell.Calls(); }
  bool Mouse(unsigned Message) { return Shell.Mouse(Icon->NotifyWin()->Handle(), 0, Message); }
};

TEST_F(NotifyIconTest, StartsHiddenWithItsNotifyWindowAndMakesNoShellCall) {
  EXPECT_TRUE(Calls().empty());
  EXPECT_FALSE(Icon->IconVisible());
  TOvNotifyWin* window = Icon->NotifyWin();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->Owner(), Icon);
  EXPECT_FALSE(window->Visible());
  EXPECT_EQ(window->ParentWindow(), Application().Handle());
}

TEST_F(NotifyIconTest, AddFillsTheRecordAndAddsOnce) {
  Icon->SetCaption("Merlig");
  EXPECT_TRUE(Icon->NIMAdd());
  ASSERT_EQ(Calls().size(), 1u);
  const test::NotifyAreaRecorder::Call& add = Calls()[0];
  EXPECT_EQ(add.Message, NIM_ADD);
  EXPECT_EQ(add.Data.cbSize, 488u);
  EXPECT_EQ(add.Data.hWnd, Icon->NotifyWin()->Handle());
  EXPECT_EQ(add.Data.uID, 0u);
  EXPECT_EQ(add.Data.uFlags, 7u);
  EXPECT_EQ(add.Data.uCallbackMessage, 0x0400u);
  EXPECT_EQ(add.Data.hIcon, Application().Icon());  // none stored: the application's icon
  EXPECT_STREQ(add.Data.szTip, "Merlig");
  EXPECT_TRUE(Icon->IconVisible());

  EXPECT_TRUE(Icon->NIMAdd());  // already visible: true, and no call
  Icon->SetIconVisible(true);
  EXPECT_EQ(Calls().size(), 1u);
}

TEST_F(NotifyIconTest, DeleteOnlyWhenVisibleAndVisibilityFollowsTheCalls) {
  Icon->NIMDelete();
  Icon->SetIconVisible(false);
  EXPECT_TRUE(Calls().empty());

  Icon->SetIconVisible(true);
  Icon->SetIconVisible(false);
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[0].Message, NIM_ADD);
  EXPECT_EQ(Calls()[1].Message, NIM_DELETE);
  EXPECT_EQ(Calls()[1].Data.hWnd, Icon->NotifyWin()->Handle());
  EXPECT_FALSE(Icon->IconVisible());
  EXPECT_TRUE(Shell.Icons().empty());

  Icon->NIMDelete();
  EXPECT_EQ(Calls().size(), 2u);
}

TEST_F(NotifyIconTest, IconAndCaptionAreStoredWhileHiddenAndSentAtOnceWhileVisible) {
  Icon->SetIcon(OtherIcon());
  Icon->SetCaption(Sjis("メーリッグ"));
  EXPECT_TRUE(Calls().empty());
  EXPECT_EQ(Icon->GetCaption(), Sjis("メーリッグ"));

  Icon->NIMAdd();
  EXPECT_EQ(Calls().back().Data.hIcon, OtherIcon());
  EXPECT_EQ(AnsiString(Calls().back().Data.szTip), Sjis("メーリッグ"));

  Icon->SetIcon(nullptr);  // the application's icon, at once
  ASSERT_EQ(Calls().size(), 2u);
  EXPECT_EQ(Calls()[1].Message, NIM_MODIFY);
  EXPECT_EQ(Calls()[1].Data.hIcon, Application().Icon());
  EXPECT_EQ(Icon->Icon(), nullptr);

  Icon->SetCaption("");
  ASSERT_EQ(Calls().size(), 3u);
  EXPECT_EQ(Calls()[2].Message, NIM_MODIFY);
  EXPECT_STREQ(Calls()[2].Data.szTip, "");
  EXPECT_EQ(Icon->GetCaption(), "");

  // Added again after a delete, with no icon stored: the application's icon again.
  Icon->NIMDelete();
  Icon->NIMAdd();
  EXPECT_EQ(Calls().back().Message, NIM_ADD);
  EXPECT_EQ(Calls().back().Data.hIcon, Application().Icon());
}

TEST_F(NotifyIconTest, TheDestructorLeavesTheIconToItsOwner) {
  Icon->NIMAdd();
  delete Icon;
  ASSERT_EQ(Calls().size(), 1u);
  EXPECT_EQ(Owner.ComponentCount(), 0);
}

TEST(NotifyTip, LongCaptionsAreCutToWholeCharactersWithinTheTip) {
  char tip[kNotifyTipSize];
  CopyTip(tip, sizeof(tip), std::string(200, 'a'));
  EXPECT_EQ(std::strlen(tip), 127u);

  // 126 single bytes and then a double-byte character: it would end at byte 128, so it goes.
  std::string text = std::string(126, 'a') + Sjis("あ");
  CopyTip(tip, sizeof(tip), text);
  EXPECT_EQ(std::string(tip), std::string(126, 'a'));

  // 125 single bytes and a double-byte character end exactly at byte 127.
  text = std::string(125, 'a') + Sjis("あ") + "b";
  CopyTip(tip, sizeof(tip), text);
  EXPECT_EQ(std::string(tip), std::string(125, 'a') + Sjis("あ"));

  // Only double-byte characters: 63 of them (126 bytes).
  std::string wide;
  for (int i = 0; i < 100; ++i) wide += Sjis("漢");
  CopyTip(tip, sizeof(tip), wide);
  EXPECT_EQ(std::strlen(tip), 126u);
  EXPECT_EQ(std::string(tip), wide.substr(0, 126));

  // Half-width katakana are single bytes; a zero byte ends the text.
  CopyTip(tip, sizeof(tip), Sjis("ｴﾗｰ") + std::string(1, '\0') + "hidden");
  EXPECT_EQ(std::string(tip), Sjis("ｴﾗｰ"));
}

TEST_F(NotifyIconTest, ALongCaptionGivesACutTipButKeepsTheWholeCaption) {
  std::string caption;
  for (int i = 0; i < 70; ++i) caption += Sjis("日");
  Icon->SetCaption(caption);
  Icon->NIMAdd();
  EXPECT_EQ(std::strlen(Calls().back().Data.szTip), 126u);
  EXPECT_EQ(Icon->GetCaption(), caption);
}

TEST_F(NotifyIconTest, MouseReportsRaiseTheEventsWithTheNotifyWindowAsSender) {
  std::vector<std::string> events;
  std::vector<TObject*> senders;
  Icon->SetOnClick([&](TObject* Sender) {
    events.push_back("click");
    senders.push_back(Sender);
  });
  Icon->SetOnDblClick([&](TObject* Sender) {
    events.push_back("dblclick");
    senders.push_back(Sender);
  });
  Icon->NIMAdd();

  // A left double click: down, up, double click (the second press), up.
  for (unsigned message : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    ASSERT_TRUE(Mouse(message));
  // Moves and the middle button raise nothing; without a menu the right button does nothing.
  for (unsigned message :
       {WM_MOUSEMOVE, WM_MBUTTONDOWN, WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK})
    ASSERT_TRUE(Mouse(message));
  std::vector<std::string> expected = {"click", "dblclick"};
  EXPECT_EQ(events, expected);
  for (TObject* sender : senders) EXPECT_EQ(sender, Icon->NotifyWin());

  // Other window messages do not reach the events.
  SendMessage(Icon->NotifyWin()->Handle(), WM_USER + 1, 0, WM_LBUTTONDOWN);
  EXPECT_EQ(events.size(), 2u);

  // The events live in the notify window: reading gives back what was set.
  EXPECT_TRUE(Icon->GetOnClick());
  Icon->SetOnClick(nullptr);
  Mouse(WM_LBUTTONDOWN);
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(NotifyIconTest, RightButtonPressesAndDoubleClicksPopUpTheMenuAtTheCursor) {
  TPopupMenu menu(&Owner);
  auto* item = new TMenuItem(&Owner);
  item->SetCaption("item");
  menu.Items()->Add(item);
  Icon->SetMenu(&menu);
  Icon->NIMAdd();

  ASSERT_TRUE(Mouse(WM_RBUTTONUP));
  EXPECT_EQ(menu.Widget(), nullptr);  // the release shows nothing
  ASSERT_TRUE(Mouse(WM_RBUTTONDOWN));
  auto* first = static_cast<QMenu*>(menu.Widget());
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(menu.Showing());
  POINT cursor;
  GetCursorPos(&cursor);
  EXPECT_EQ(first->pos(), QPoint(static_cast<int>(cursor.x), static_cast<int>(cursor.y)));

  ASSERT_TRUE(Mouse(WM_RBUTTONDBLCLK));  // shown a second time
  EXPECT_NE(menu.Widget(), first);
  EXPECT_TRUE(menu.Showing());
}

TEST_F(NotifyIconTest, AFreedMenuIsLetGo) {
  auto* menu = new TPopupMenu(&Owner);
  Icon->SetMenu(menu);
  delete menu;
  EXPECT_EQ(Icon->Menu(), nullptr);
  Icon->NIMAdd();
  EXPECT_TRUE(Mouse(WM_RBUTTONDOWN));  // no menu: nothing, and nothing dangling
}

TEST_F(NotifyIconTest, AnExceptionInAnEventGoesToTheApplicationHook) {
  std::string seen;
  Application().OnException = [&](TObject* Sender, const Exception& E) {
    EXPECT_EQ(Sender, Icon->NotifyWin());
    seen = E.Message();
  };
  Icon->SetOnClick([](TObject*) { throw Exception("click failed"); });
  Icon->NIMAdd();
  EXPECT_TRUE(Mouse(WM_LBUTTONDOWN));
  Application().OnException = nullptr;
  EXPECT_EQ(seen, "click failed");
}

TEST(NotifyIconRegistration, TheIconIsOnTheOveltaPage) {
  Ovnotifyicon::Register();
  std::vector<std::string> page = RegisteredComponents("Ovelta");
  EXPECT_NE(std::find(page.begin(), page.end(), "TOvNotifyIcon"), page.end());
}

}  // namespace
}  // namespace ovelta
