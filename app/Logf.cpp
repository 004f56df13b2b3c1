// The log window: its layout, texts and the LogReady hand-shake with the main window.
#include "app/Logf.h"

#include "app/Mainf.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

constexpr const char* kCaption = "Merlig Log";
constexpr const char* kVersion = "MerligConverter Ver0.1";
constexpr const char* kRelease = "Release 5/7/2000";
constexpr const char* kFontFace = "ＭＳ Ｐゴシック";
constexpr int kFontHeight = -12;

}  // namespace

TLogForm::TLogForm(TComponent* AOwner, TMainForm* MainForm) : TForm(AOwner), FMainForm(MainForm) {
  SetName("LogForm");
  SetCaption(kCaption);
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetBorderIcons({TBorderIcon::biSystemMenu});
  SetColor(clBtnFace);
  SetFont(Sjis(kFontFace), kFontHeight, SHIFTJIS_CHARSET);
  SetScaled(false);
  SetPosition(TPosition::poScreenCenter);
  SetClientSize(320, 240);

  Label1 = new TLabel(this);
  Label1->SetName("Label1");
  Label1->SetBounds(8, 4, 113, 12);
  Label1->SetCaption(kVersion);

  Label2 = new TLabel(this);
  Label2->SetName("Label2");
  Label2->SetBounds(8, 20, 103, 12);
  Label2->SetCaption(kRelease);

  LogMemo = new TMemo(this);
  LogMemo->SetName("LogMemo");
  LogMemo->SetBounds(0, 40, 320, 160);
  LogMemo->SetReadOnly(true);
  LogMemo->SetScrollBars(TScrollStyle::ssVertical);
  LogMemo->SetColor(clBtnFace);
  LogMemo->SetTabOrder(0);

  CloseBitBtn = new TBitBtn(this);
  CloseBitBtn->SetName("CloseBitBtn");
  CloseBitBtn->SetBounds(240, 212, 75, 25);
  CloseBitBtn->SetKind(TBitBtnKind::bkClose);
  CloseBitBtn->SetTabOrder(1);
  CloseBitBtn->OnClick = [this](TObject* Sender) { CloseBitBtnClick(Sender); };

  Loaded();
  FormCreate(this);
}

TLogForm::~TLogForm() { FormDestroy(this); }

void TLogForm::FormCreate(TObject*) {
  if (FMainForm) FMainForm->LogFormCreated(this);
}

void TLogForm::FormDestroy(TObject*) {
  if (FMainForm) FMainForm->LogFormDestroyed(this);
}

// The button closes the window as its title bar does: hidden as a rule, and on a desktop without
// a tray (where the window's OnClose ends the program) the program ends.
void TLogForm::CloseBitBtnClick(TObject*) { Close(); }

}  // namespace ovelta
