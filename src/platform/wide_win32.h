// Windows' UTF-16 text and the filter's 8-bit text, shared by the Win32 implementation files.
#pragma once

#include <string>
#include <string_view>

namespace kestrowan {

// UTF-16 as UTF-8, a lone surrogate encoded as if it were a code point (WTF-8), so that
// wideFromNarrow gives back the very units: Windows file names need not be valid UTF-16.
std::string narrowFromWide(std::wstring_view text);

// The inverse of narrowFromWide; an ill-formed sequence becomes '?'.
std::wstring wideFromNarrow(const std::string& text);

}  // namespace kestrowan
