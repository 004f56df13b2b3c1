// The unit Logf: TLogForm, the log window. It shows the program's name and release, the log memo
// (written only through TMainForm::WriteLog) and a close button. Closing the window only hides it.
// While it exists, the main window's LogReady is true.
#pragma once

#include <string>

#include "platform/ui/Forms.h"

namespace ovelta {

class TMainForm;

class TLogForm : public TForm {
 public:
  // MainForm is the window whose log this is; it must outlive this window.
  TLogForm(TComponent* AOwner, TMainForm* MainForm);
  ~TLogForm() override;
  std::string ClassName() const override { return "TLogForm"; }

  TLabel* Label1;
  TLabel* Label2;
  TMemo* LogMemo;
  TBitBtn* CloseBitBtn;

  void FormCreate(TObject* Sender);
  void FormDestroy(TObject* Sender);
  void CloseBitBtnClick(TObject* Sender);

 private:
  TMainForm* FMainForm;
};

}  // namespace ovelta
