#pragma once

#include <string>
#include <string_view>

namespace brintel::app {

// UTF-8 (the engine's text) to UTF-16 (the window's) and back. Invalid
// sequences become U+FFFD; neither call fails.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

// The file name of `path` without folder and without its last extension:
// "C:\\tools\\brintel.exe" gives "brintel".
std::wstring BaseNameWithoutExtension(std::wstring_view path);

// The base name of the running executable in the ANSI code page, as the
// agent name of the server requests.
std::string ProgramAgentName();

}  // namespace brintel::app
