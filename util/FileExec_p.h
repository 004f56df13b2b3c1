// The pieces of OvFileExec that can be checked without opening anything: reading a path
// (separators, URLs, the working directory), the failures it can tell apart, and their messages.
#pragma once

#include "platform/core/Types.h"

namespace ovelta::file_exec {

// The failures that can be told apart when opening a document.
enum class ExecFailure {
  None,
  OutOfResources,  // no memory, or no process could be started
  FileNotFound,
  PathNotFound,   // a directory on the way is missing or is not a directory
  NoAssociation,  // no handler for the document, or no xdg-open at all
  Unknown,
};

// The path with every "\" that is not the second byte of a double-byte character turned into "/".
AnsiString NormalizeSeparators(const AnsiString& Path);

// True when Path starts with a URL scheme of two characters or more ("http:", "mailto:").
bool HasUrlScheme(const AnsiString& Path);

// The working directory for opening Path (separators already "/"): everything before the last "/",
// keeping that "/" when it is the first byte or follows another "/" (a root); empty without "/".
AnsiString WorkingDirectory(const AnsiString& Path);

// The message for a failure (CP932), and the caption of its box.
AnsiString FailureText(ExecFailure Failure);
AnsiString FailureCaption();

// The failure that an exit status of the launcher (as from waitpid) stands for.
ExecFailure FailureFromExitStatus(int Status);

// Checks Path and starts the launcher on it; returns what went wrong, if anything. Shows nothing.
ExecFailure OpenDocument(const AnsiString& Path);

}  // namespace ovelta::file_exec
