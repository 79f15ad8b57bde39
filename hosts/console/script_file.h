// Reading a script file into a movable global memory block for ProcessDaBatBuffer.
#pragma once
#include <windows.h>
#include <string>
#include "handles.h"

// ANSI text and UTF-16 with a byte-order mark are handed over as they are;
// UTF-8 with a byte-order mark becomes UTF-16 with a byte-order mark, since the
// library takes only those two forms. The block ends with two zero bytes (a
// terminator for either form). On failure returns an empty block and sets
// `error` to a one-line reason.
GlobalBlock load_script(const std::wstring& path, std::wstring& error);

// UTF-8 text (after its mark) as UTF-16 LE bytes with a leading mark.
std::string utf8_to_utf16_with_bom(const char* bytes, size_t len);

// The text of a system error code, without the trailing line end.
std::wstring system_message(DWORD code);
