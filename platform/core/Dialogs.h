// Message boxes and the exception display, as a service that library code can call without a UI
// toolkit. The UI layer installs the handler that really shows them; without one (no display, or
// before the application exists) each box is written to standard error.
#pragma once

#include <exception>
#include <functional>
#include <string>

#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

// Shows Text in a box captioned Caption with the platform's flags (MB_ICONSTOP...). Texts are
// CP932. Returns the pressed button's identifier (1, "OK", when nothing is shown).
int MessageBox(const AnsiString& Text, const AnsiString& Caption, unsigned Flags);

// The application title, which captions the exception display ("MERLIG" in the proxy).
void SetApplicationTitle(const AnsiString& Title);
AnsiString ApplicationTitle();

// The exception display: a message box with the exception's message, captioned by the application
// title, with the stop icon. Library code uses it where it reports an error and goes on.
void ShowException(const std::exception& E);
void ShowExceptionMessage(const AnsiString& Message);

using MessageBoxHandler =
    std::function<int(const AnsiString& Text, const AnsiString& Caption, unsigned Flags)>;
// Installs Handler (empty: back to standard error) and returns the previous one.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler Handler);

}  // namespace ovelta
