// Forms and the controls placed on them: labels, a read-only memo with its lines, and the standard
// close button. A form is a top-level window with a caption, a client area of a given size, a
// border style, a start position, a colour and a font; its controls sit at fixed positions in the
// client area. Forms never get a taskbar entry. Texts are CP932 byte strings; they are converted
// to the toolkit's Unicode here and nowhere else.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/core/Component.h"
#include "platform/ui/Controls.h"
#include "platform/gdi/Graphics.h"
#include "platform/core/Types.h"

namespace ovelta {

class TForm;

// Forms and controls take the framework's colours and fonts (platform/gdi/Graphics.h): a form's
// colour is one of the system colours clBtnFace or clWindow; its font's face name (CP932) is mapped
// to an installed face by FontFamilyFor.

enum class TFormBorderStyle { bsSizeable, bsSingle };
enum class TBorderIcon { biSystemMenu, biMinimize, biMaximize };
enum class TPosition { poDesigned, poScreenCenter };
// What closing a form does: nothing, hide it (the default), or free it.
enum class TCloseAction { caNone, caHide, caFree };
using TCloseEvent = std::function<void(TObject* Sender, TCloseAction& Action)>;

// A top-level window. Created invisible. Closing the application's main form ends the message
// loop; closing any other form hides it unless OnClose says otherwise. The window system's own
// close button closes the form the same way.
class TForm : public TWinControl {
 public:
  explicit TForm(TComponent* AOwner);
  ~TForm() override;
  std::string ClassName() const override { return "TForm"; }

  int ClientWidth() const;
  int ClientHeight() const;
  void SetClientSize(int Width, int Height);

  TFormBorderStyle BorderStyle() const { return FBorderStyle; }
  void SetBorderStyle(TFormBorderStyle Value);
  // The border icons shown; biSystemMenu alone gives a close box and no minimize or maximize box.
  void SetBorderIcons(const std::vector<TBorderIcon>& Value);
  TPosition Position() const { return FPosition; }
  void SetPosition(TPosition Value) { FPosition = Value; }
  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  const TFont& Font() const { return FFont; }
  // The font of the form and, unless they have their own, of its controls.
  void SetFont(const TFont& Value);
  // The usual form: face name (CP932), height in pixels (negative: character height), charset.
  void SetFont(const AnsiString& Name, int Height, int Charset);
  // Whether the form grows with the screen's resolution; forms here keep their pixel sizes.
  void SetScaled(bool Value) { FScaled = Value; }
  bool Scaled() const { return FScaled; }
  // The icon in the form's title bar (null: the application's icon).
  void SetIcon(HICON Value);

  void Show();
  void Hide();
  // Closes the form: OnClose decides (default: hide; the main form: end the message loop).
  void Close();
  bool Active() const;

  TCloseEvent OnClose;

  // The toolkit widget of the form, for the platform's own use (null outside the platform).
  void* Widget() const;

 protected:
  void CaptionChanged() override;
  void VisibleChanged() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
  TFormBorderStyle FBorderStyle = TFormBorderStyle::bsSizeable;
  TPosition FPosition = TPosition::poDesigned;
  TColor FColor = clBtnFace;
  TFont FFont;
  bool FScaled = true;
  bool FPlaced = false;
  friend struct FormAccess;
};

// Creates a form owned by the application (freed with it, newest first); the first form created
// this way becomes the main form.
template <class T, class... Args> T* CreateForm(Args&&... A) {
  Application().Initialize();
  T* form = new T(&Application(), std::forward<Args>(A)...);
  if (!Application().MainForm()) Application().SetMainForm(form);
  return form;
}

// A control placed on a form (its owner): position and size in the form's client area.
class TControl : public TComponent {
 public:
  // AParent is the form the control sits on and its owner.
  explicit TControl(TForm* AParent);
  ~TControl() override;
  std::string ClassName() const override { return "TControl"; }

  void SetBounds(int Left, int Top, int Width, int Height);
  int Left() const { return FLeft; }
  int Top() const { return FTop; }
  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  // The place in the form's tab (keyboard focus) order, 0 first.
  int TabOrder() const { return FTabOrder; }
  void SetTabOrder(int Value);
  TForm* Parent() const { return FParent; }

  void* Widget() const { return FWidget; }

 protected:
  // Called after SetBounds placed the widget.
  virtual void BoundsChanged() {}
  // Takes the control's widget (made by the derived class, a child of the form's widget).
  void Attach(void* Widget);

 private:
  TForm* FParent;
  void* FWidget = nullptr;
  int FLeft = 0, FTop = 0, FWidth = 0, FHeight = 0;
  int FTabOrder = -1;
};

// A line of text. With AutoSize (the default) the label takes the size its text needs in its
// font, whatever size it was given; its position stays.
class TLabel : public TControl {
 public:
  explicit TLabel(TForm* AParent);
  std::string ClassName() const override { return "TLabel"; }
  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);

 protected:
  void BoundsChanged() override;

 private:
  void FitText();
  AnsiString FCaption;
  bool FAutoSize = true;
};

enum class TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

class TMemo;

// The lines of a memo (CP932), first line at index 0.
class TStrings {
 public:
  explicit TStrings(TMemo* AMemo) : FMemo(AMemo) {}
  int Count() const { return static_cast<int>(FLines.size()); }
  // The line at Index; an empty string for an index out of range.
  AnsiString Strings(int Index) const;
  // Appends a line (a text with line breaks still makes one line per break) and returns its index.
  int Add(const AnsiString& Line);
  // Deletes the line at Index; nothing for an index out of range.
  void Delete(int Index);
  void Clear();

 private:
  TMemo* FMemo;
  std::vector<AnsiString> FLines;
};

// A multi-line text box. Read-only memos take their lines only from the program.
class TMemo : public TControl {
 public:
  explicit TMemo(TForm* AParent);
  ~TMemo() override;
  std::string ClassName() const override { return "TMemo"; }

  TStrings& Lines() { return FLines; }
  const TStrings& Lines() const { return FLines; }
  bool ReadOnly() const { return FReadOnly; }
  void SetReadOnly(bool Value);
  void SetScrollBars(TScrollStyle Value);
  void SetColor(TColor Value);

 private:
  friend class TStrings;
  void LineAdded(const AnsiString& Line);
  void LineDeleted(int Index);
  void LinesCleared();

  TStrings FLines{this};
  bool FReadOnly = false;
};

// The kinds of button with a built-in caption and glyph.
enum class TBitBtnKind { bkCustom, bkClose };

// A push button with a glyph. A bkClose button carries the platform's close caption and glyph;
// clicking it runs OnClick, or closes its form when OnClick is empty.
class TBitBtn : public TControl {
 public:
  explicit TBitBtn(TForm* AParent);
  std::string ClassName() const override { return "TBitBtn"; }
  TBitBtnKind Kind() const { return FKind; }
  void SetKind(TBitBtnKind Value);
  AnsiString Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value);
  // Presses the button, as a mouse click does.
  void Click();

  TNotifyEvent OnClick;

 private:
  TBitBtnKind FKind = TBitBtnKind::bkCustom;
  AnsiString FCaption;
};

}  // namespace ovelta
