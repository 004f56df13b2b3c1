// OvFileExec: opening a document with the desktop's handler. What does not depend on the platform
// (reading a path, the messages) is here; the opening itself is the platform's (FileExec_posix.cpp
// with xdg-open, FileExec_win.cpp with the shell).
#include <new>

#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"
#include "util/FileExec_p.h"
#include "util/Ovelta.h"

namespace ovelta {
namespace file_exec {
namespace {

// A valid second byte of a CP932 double-byte character.
bool IsTrailByte(unsigned char Value) {
  return (Value >= 0x40 && Value <= 0x7E) || (Value >= 0x80 && Value <= 0xFC);
}

}  // namespace

AnsiString NormalizeSeparators(const AnsiString& Path) {
  AnsiString result = Path;
  for (std::size_t i = 0; i < result.size(); ++i) {
    const auto c = static_cast<unsigned char>(result[i]);
    if (IsDBCSLeadByte(c) && i + 1 < result.size() &&
        IsTrailByte(static_cast<unsigned char>(result[i + 1]))) {
      ++i;  // the second byte of a double-byte character may be 0x5C, "\"
    } else if (c == '\\') {
      result[i] = '/';
    }
  }
  return result;
}

bool HasUrlScheme(const AnsiString& Path) {
  auto isAlpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  auto isDigit = [](char c) { return c >= '0' && c <= '9'; };
  if (Path.empty() || !isAlpha(Path[0])) return false;
  std::size_t i = 1;
  while (i < Path.size() && (isAlpha(Path[i]) || isDigit(Path[i]) || Path[i] == '+' ||
                             Path[i] == '-' || Path[i] == '.'))
    ++i;
  // One letter and a colon is a drive ("C:"), not a scheme.
  return i >= 2 && i < Path.size() && Path[i] == ':';
}

AnsiString WorkingDirectory(const AnsiString& Path) {
  // "/" is never part of a double-byte character, so the last one is the last separator.
  const std::size_t slash = Path.rfind('/');
  if (slash == AnsiString::npos) return AnsiString();
  if (slash == 0 || Path[slash - 1] == '/') return Path.substr(0, slash + 1);
  return Path.substr(0, slash);
}

AnsiString FailureText(ExecFailure Failure) {
  switch (Failure) {
    case ExecFailure::None:
      return AnsiString();
    case ExecFailure::OutOfResources:
      return Sjis("システムに､ メモリまたはリソースが足りません。");
    case ExecFailure::FileNotFound:
      return Sjis("指定されたファイルが見つかりませんでした。");
    case ExecFailure::PathNotFound:
      return Sjis("指定されたパスが見つかりませんでした。");
    case ExecFailure::NoAssociation:
      return Sjis("指定されたファイル名拡張子には､ アプリケーションが関連付けられていません。");
    case ExecFailure::Unknown:
      break;
  }
  return Sjis("不明なエラー");
}

AnsiString FailureCaption() { return Sjis("エラー"); }

}  // namespace file_exec

void OvFileExec(AnsiString Path) {
  using namespace file_exec;
  if (Path.empty()) return;
  ExecFailure failure;
  try {
    failure = OpenDocument(Path);
  } catch (const std::bad_alloc&) {
    failure = ExecFailure::OutOfResources;
  } catch (...) {
    failure = ExecFailure::Unknown;
  }
  if (failure != ExecFailure::None) MessageBox(FailureText(failure), FailureCaption(), MB_ICONSTOP);
}

}  // namespace ovelta
