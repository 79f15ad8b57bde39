// Attribute strings of FileAttrSet, DirAttrSet and the Attr variants of
// FileCopy and FileMove: the letters R (read-only), A (archive), S (system)
// and H (hidden); an upper-case letter sets the attribute, a lower-case one
// clears it; "-" and blanks leave it alone.
#pragma once
#include <windows.h>

// False when the string holds another character or more than 8 characters.
bool parse_attr_string(const wchar_t* s, DWORD* set, DWORD* clear);
// Applies the masks to a file or directory. False with the system error in GetLastError.
bool apply_attrs(const wchar_t* path, DWORD set, DWORD clear);
// "RASH" with "-" for each attribute that is absent.
void attr_letters(DWORD attrs, wchar_t out[5]);
