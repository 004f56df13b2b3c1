// Forms, the memo, labels, the close button, pop-up menus, fonts and activation, checked against
// the widgets the platform puts behind them.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QWidget>

#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/gdi/Fonts.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Icons.h"
#include "platform/ui/Menus.h"
#include "platform/core/Text.h"
#include "support/EventLoop.h"
#include "support/UiApplication.h"

namespace ovelta {
namespace {

using test::RunUntil;

QWidget* WidgetOf(const TForm& Form) { return static_cast<QWidget*>(Form.Widget()); }

// The memo's model and the text its widget shows must agree line for line.
std::vector<AnsiString> ShownLines(TMemo& Memo) {
  QString text = static_cast<QPlainTextEdit*>(Memo.Widget())->toPlainText();
  std::vector<AnsiString> lines;
  if (Memo.Lines().Count() == 0 && text.isEmpty()) return lines;
  for (const QString& line : text.split(QChar('\n')))
    lines.push_back(Utf8ToCp932(line.toStdString()));
  return lines;
}

std::vector<AnsiString> ModelLines(const TMemo& Memo) {
  std::vector<AnsiString> lines;
  for (int i = 0; i < Memo.Lines().Count(); ++i) lines.push_back(Memo.Lines().Strings(i));
  return lines;
}

TEST(Memo, LinesAndTheShownTextStayInStepThroughAddsAndDeletes) {
  TForm form(nullptr);
  auto* memo = new TMemo(&form);
  TStrings& lines = memo->Lines();
  EXPECT_EQ(lines.Count(), 0);

  // Empty lines at the start, the end and in between are lines like any other.
  for (const AnsiString& text : std::vector<AnsiString>{"", "first", "", Sjis("日本語"), ""})
    lines.Add(text);
  ASSERT_EQ(lines.Count(), 5);
  EXPECT_EQ(ModelLines(*memo), ShownLines(*memo));
  EXPECT_EQ(lines.Strings(3), Sjis("日本語"));

  lines.Delete(0);  // the first
  lines.Delete(3);  // the last
  lines.Delete(1);  // one in the middle
  std::vector<AnsiString> expected = {"first", Sjis("日本語")};
  EXPECT_EQ(ModelLines(*memo), expected);
  EXPECT_EQ(ShownLines(*memo), expected);

  lines.Delete(7);  // out of range: nothing
  lines.Delete(-1);
  EXPECT_EQ(lines.Count(), 2);
  EXPECT_EQ(lines.Strings(9), "");

  lines.Delete(1);
  lines.Delete(0);
  EXPECT_EQ(lines.Count(), 0);
  EXPECT_TRUE(ShownLines(*memo).empty());
  lines.Add("again");
  EXPECT_EQ(ShownLines(*memo), std::vector<AnsiString>{"again"});
}

TEST(Memo, AddedTextWithLineBreaksBecomesOneLinePerBreak) {
  TForm form(nullptr);
  auto* memo = new TMemo(&form);
  EXPECT_EQ(memo->Lines().Add("a\r\nb\nc"), 2);
  std::vector<AnsiString> expected = {"a", "b", "c"};
  EXPECT_EQ(ModelLines(*memo), expected);
  EXPECT_EQ(ShownLines(*memo), expected);
}

TEST(Memo, ReadOnlyScrollBarAndBounds) {
  TForm form(nullptr);
  auto* memo = new TMemo(&form);
  memo->SetBounds(0, 40, 320, 160);
  memo->SetReadOnly(true);
  memo->SetScrollBars(TScrollStyle::ssVertical);
  memo->SetColor(clBtnFace);
  auto* edit = static_cast<QPlainTextEdit*>(memo->Widget());
  EXPECT_TRUE(edit->isReadOnly());
  EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(edit->geometry(), QRect(0, 40, 320, 160));
  EXPECT_EQ(edit->parentWidget(), WidgetOf(form));
  EXPECT_EQ(edit->palette().color(QPalette::Base), QApplication::palette().color(QPalette::Button));
}

TEST(Forms, CaptionSizeBorderAndCentredPlacement) {
  TForm form(nullptr);
  form.SetCaption(Sjis("ログ"));
  form.SetBorderStyle(TFormBorderStyle::bsSingle);
  form.SetBorderIcons({TBorderIcon::biSystemMenu});
  form.SetPosition(TPosition::poScreenCenter);
  form.SetClientSize(320, 240);
  QWidget* widget = WidgetOf(form);
  EXPECT_EQ(widget->windowTitle(), QString::fromUtf8("ログ"));
  EXPECT_EQ(widget->minimumSize(), QSize(320, 240));
  EXPECT_EQ(widget->maximumSize(), QSize(320, 240));
  Qt::WindowFlags flags = widget->windowFlags();
  EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool);  // no taskbar entry
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(widget->isVisible());
  form.Show();
  EXPECT_TRUE(widget->isVisible());
  QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  QPoint centre = widget->geometry().center();
  EXPECT_LE(std::abs(centre.x() - area.center().x()), 1);
  EXPECT_LE(std::abs(centre.y() - area.center().y()), 1);
  form.Hide();
  EXPECT_FALSE(widget->isVisible());
}

TEST(Forms, FontFaceIsMappedToTheInstalledJapaneseFace) {
  EXPECT_EQ(FontFamilyFor(Sjis("ＭＳ Ｐゴシック")), "IPAPGothic");
  EXPECT_EQ(FontFamilyFor(Sjis("ＭＳ ゴシック")), "IPAGothic");
  EXPECT_EQ(FontFamilyFor("MS PGothic"), "IPAPGothic");
  EXPECT_EQ(FontFamilyFor("DejaVu Sans"), "DejaVu Sans");
  EXPECT_EQ(FontFamilyFor(Sjis("游ゴシック")), "游ゴシック");  // kept, as UTF-8

  TForm form(nullptr);
  form.SetFont(Sjis("ＭＳ Ｐゴシック"), -12, SHIFTJIS_CHARSET);
  auto* label = new TLabel(&form);
  QFont font = static_cast<QLabel*>(label->Widget())->font();  // inherited from the form
  EXPECT_EQ(font.pixelSize(), 12);
  // The face is really installed (fonts-ipafont-gothic), not a fallback.
  EXPECT_EQ(QFontInfo(font).family(), "IPAPGothic");
}

TEST(Forms, ClosingHidesByDefaultAndOnCloseDecides) {
  TForm form(nullptr);
  form.Show();
  form.Close();
  EXPECT_FALSE(form.Visible());

  form.Show();
  form.OnClose = [](TObject*, TCloseAction& Action) { Action = TCloseAction::caNone; };
  form.Close();
  EXPECT_TRUE(form.Visible());

  // The window system's close button goes the same way, and never destroys the widget.
  form.OnClose = nullptr;
  WidgetOf(form)->close();
  EXPECT_FALSE(form.Visible());
  EXPECT_FALSE(WidgetOf(form)->isVisible());
}

TEST(Forms, CloseWithFreeDestroysTheFormAfterTheHandlerReturned) {
  auto* form = new TForm(nullptr);
  HWND handle = form->Handle();
  form->OnClose = [](TObject*, TCloseAction& Action) { Action = TCloseAction::caFree; };
  form->Close();
  EXPECT_EQ(FindControl(handle), form);  // still alive right after Close
  EXPECT_TRUE(RunUntil([&] { return FindControl(handle) == nullptr; }));
}

TEST(Forms, LabelsAndTheStandardCloseButton) {
  TForm form(nullptr);
  form.SetFont(Sjis("ＭＳ Ｐゴシック"), -12, SHIFTJIS_CHARSET);
  auto* label = new TLabel(&form);
  label->SetBounds(8, 4, 20, 12);
  label->SetCaption("MerligConverter Ver0.1");
  auto* shown = static_cast<QLabel*>(label->Widget());
  EXPECT_EQ(shown->text(), "MerligConverter Ver0.1");
  // Sized to its text (the given width would cut it), at the given place.
  int text_width = QFontMetrics(shown->font()).horizontalAdvance(shown->text());
  EXPECT_GE(label->Width(), text_width);
  EXPECT_EQ(shown->geometry(), QRect(8, 4, label->Width(), label->Height()));
  label->SetAutoSize(false);
  label->SetBounds(8, 4, 20, 12);
  EXPECT_EQ(shown->geometry(), QRect(8, 4, 20, 12));

  auto* button = new TBitBtn(&form);
  button->SetKind(TBitBtnKind::bkClose);
  auto* push = static_cast<QPushButton*>(button->Widget());
  EXPECT_EQ(push->text(), QString::fromUtf8("閉じる(&C)"));
  EXPECT_FALSE(push->icon().isNull());

  // Without a handler the close button closes its form; with one, the handler decides.
  form.Show();
  push->click();
  EXPECT_FALSE(form.Visible());
  form.Show();
  int clicks = 0;
  button->OnClick = [&](TObject* Sender) {
    EXPECT_EQ(Sender, button);
    ++clicks;
  };
  push->click();
  EXPECT_EQ(clicks, 1);
  EXPECT_TRUE(form.Visible());
}

TEST(Forms, TabOrderFollowsTheControlsNumbers) {
  TForm form(nullptr);
  auto* button = new TBitBtn(&form);
  auto* memo = new TMemo(&form);
  memo->SetTabOrder(0);
  button->SetTabOrder(1);
  // Created button first, the memo still comes first in the focus chain.
  std::vector<QWidget*> order;
  QWidget* start = WidgetOf(form);
  for (QWidget* w = start->nextInFocusChain(); w && w != start; w = w->nextInFocusChain())
    if (w == memo->Widget() || w == button->Widget()) order.push_back(w);
  std::vector<QWidget*> expected = {static_cast<QWidget*>(memo->Widget()),
                                    static_cast<QWidget*>(button->Widget())};
  EXPECT_EQ(order, expected);
}

TEST(Activation, TheApplicationIsActiveWhileOneOfItsFormsIs) {
  TForm form(nullptr);
  form.Show();
  Application().BringToFront();
  EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  EXPECT_TRUE(form.Active());

  // Another window (standing in for another program) takes the focus.
  QWidget other;
  other.show();
  other.activateWindow();
  EXPECT_TRUE(RunUntil([] { return !Application().Active(); }));

  Application().BringToFront();
  EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  form.Hide();
  test::RunFor(100);
  EXPECT_FALSE(Application().Active());
}

TEST(PopupMenus, ItemsBecomeActionsAndSeparatorsInOrder) {
  TComponent owner(nullptr);
  TPopupMenu menu(&owner);
  auto* show = new TMenuItem(&owner);
  show->SetCaption(Sjis("Log表示(&L)"));
  auto* line = new TMenuItem(&owner);
  line->SetCaption("-");
  auto* exit = new TMenuItem(&owner);
  exit->SetCaption(Sjis("終了(&E)"));
  int chosen = 0;
  exit->OnClick = [&](TObject* Sender) {
    EXPECT_EQ(Sender, exit);
    ++chosen;
  };
  menu.Items()->Add(show);
  menu.Items()->Add(line);
  menu.Items()->Add(exit);

  menu.Popup(10, 20);
  auto* shown = static_cast<QMenu*>(menu.Widget());
  ASSERT_NE(shown, nullptr);
  EXPECT_TRUE(menu.Showing());
  QList<QAction*> actions = shown->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Log表示(&L)"));
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), QString::fromUtf8("終了(&E)"));
  actions[0]->trigger();  // no handler: nothing
  actions[2]->trigger();
  EXPECT_EQ(chosen, 1);

  // An item freed while the menu is up leaves the list, and its action calls nothing.
  delete exit;
  EXPECT_EQ(menu.Items()->Count(), 2);
  actions[2]->trigger();
  EXPECT_EQ(chosen, 1);
}

TEST(Icons, UnknownResourcesGiveNullAndTheApplicationFallsBackToTheStandIn) {
  EXPECT_EQ(LoadIconA(HInstance(), "NO_SUCH_ICON"), nullptr);
  EXPECT_EQ(LoadIconA(HInstance(), nullptr), nullptr);
  EXPECT_EQ(LoadIconA(nullptr, "MAINICON"), nullptr);
  // This test program carries no icon resources.
  EXPECT_EQ(Application().Icon(), StandInIcon());
  EXPECT_TRUE(IconImageFiles(StandInIcon()).empty());
}

}  // namespace
}  // namespace ovelta
