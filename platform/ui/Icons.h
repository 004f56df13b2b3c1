// Icon resources of the program. An icon resource is a named set of images of one picture in
// several sizes, compiled into the program (the Qt resource folder ":/icons/<NAME>/", one image
// file per size). LoadIconA hands out a handle to such a set; handles stay valid for the life of
// the process and are never released, as the platform's shared icons are not.
#pragma once

#include <string>
#include <vector>

// The handles are the system's own types on Windows (<windows.h> declares the same structs).
struct HICON__;
struct HINSTANCE__;

namespace ovelta {

using HICON = ::HICON__*;
using HINSTANCE = ::HINSTANCE__*;

// The program's own module (the place its resources are looked up in).
HINSTANCE HInstance();

// The icon resource Name of the module, or null when the module has no such resource (or Name is
// null). Loading the same name again gives the same handle.
HICON LoadIconA(HINSTANCE Instance, const char* Name);

// The plain stand-in icon used where a program has no icon of its own.
HICON StandInIcon();

// The image files of an icon from LoadIconA (empty for the stand-in, a null or an unknown handle).
std::vector<std::string> IconImageFiles(HICON Icon);

}  // namespace ovelta
