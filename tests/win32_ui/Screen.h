#pragma once

#include <string>

#include <windows.h>
#include "Image.h"

#include <commctrl.h>

namespace brintel::testing {

// What the screen shows in `rect` (screen coordinates), whoever drew it.
// Throws std::runtime_error when the capture fails.
Image CaptureScreen(const RECT& rect);

// A bitmap file, as the system loads it. Throws std::runtime_error.
Image LoadBitmapFile(const std::wstring& path);

// Writes `image` as a PNG file (GDI+). Throws std::runtime_error.
void SavePng(const Image& image, const std::wstring& path);

// The same file read back through GDI+, for checking what was written.
Image LoadPng(const std::wstring& path);

}  // namespace brintel::testing
