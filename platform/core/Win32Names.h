// The library's names that <windows.h> also defines as macros (flags, message numbers, and the
// A/W switches of MessageBox, SendMessage, TextOut, SetPort): the macros are taken away so that the
// library's own declarations, with the same values, stand. Every public header includes this
// (through Types.h), so a program may include <windows.h> before the library's headers; one that
// includes <windows.h> after them gets the macros back and then names the library's functions
// through a using-declaration or by calling them unqualified. Deliberately without an include
// guard: each inclusion takes the macros away again. On other systems it does nothing.
#undef BI_RGB
#undef CLR_INVALID
#undef DEFAULT_CHARSET
#undef DEFAULT_PALETTE
#undef DIB_RGB_COLORS
#undef GHND
#undef GMEM_FIXED
#undef GMEM_MOVEABLE
#undef GMEM_ZEROINIT
#undef GPTR
#undef GetBValue
#undef GetGValue
#undef GetRValue
#undef IS_INTRESOURCE
#undef MAKEINTRESOURCE
#undef MB_ICONERROR
#undef MB_ICONSTOP
#undef MB_OK
#undef MessageBox
#undef NIF_ICON
#undef NIF_MESSAGE
#undef NIF_TIP
#undef NIM_ADD
#undef NIM_DELETE
#undef NIM_MODIFY
#undef NOTIFYICONDATAA_V2_SIZE
#undef RGB
#undef RT_BITMAP
#undef RT_RCDATA
#undef SHIFTJIS_CHARSET
#undef SRCCOPY
#undef SendMessage
#undef SetPort
#undef TextOut
#undef WM_LBUTTONDBLCLK
#undef WM_LBUTTONDOWN
#undef WM_LBUTTONUP
#undef WM_MBUTTONDOWN
#undef WM_MOUSEMOVE
#undef WM_RBUTTONDBLCLK
#undef WM_RBUTTONDOWN
#undef WM_RBUTTONUP
#undef WM_USER
