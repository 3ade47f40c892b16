#include "Screen.h"

// WIN32_LEAN_AND_MEAN leaves out the OLE headers that GDI+ needs.
#include <objidl.h>
//
#include <gdiplus.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "app/Handles.h"
#include "app/WideText.h"

namespace brintel::testing {
namespace {

std::runtime_error Failed(const std::string& what) {
  return std::runtime_error(what + " failed with error " + std::to_string(::GetLastError()));
}

// The pixels of a bitmap as top-down 32-bit rows, read through a DIB header.
Image ReadPixels(HDC dc, HBITMAP bitmap, int width, int height) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  Image image;
  image.width = width;
  image.height = height;
  image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
  if (::GetDIBits(dc, bitmap, 0, static_cast<UINT>(height), image.pixels.data(), &info,
                  DIB_RGB_COLORS) != height) {
    throw Failed("GetDIBits");
  }
  for (std::uint32_t& pixel : image.pixels) {
    pixel &= 0xFFFFFF;  // BGRA in memory is 0x00RRGGBB as a number
  }
  return image;
}

// GDI+ for the lifetime of one call.
class GdiPlus {
 public:
  GdiPlus() {
    const Gdiplus::GdiplusStartupInput input;
    if (Gdiplus::GdiplusStartup(&token_, &input, nullptr) != Gdiplus::Ok) {
      throw std::runtime_error("GdiplusStartup failed");
    }
  }
  ~GdiPlus() { Gdiplus::GdiplusShutdown(token_); }
  GdiPlus(const GdiPlus&) = delete;
  GdiPlus& operator=(const GdiPlus&) = delete;

 private:
  ULONG_PTR token_ = 0;
};

CLSID PngEncoder() {
  UINT count = 0;
  UINT bytes = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &bytes) != Gdiplus::Ok || bytes == 0) {
    throw std::runtime_error("no image encoders");
  }
  std::vector<std::uint8_t> buffer(bytes);
  auto* codecs = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, bytes, codecs) != Gdiplus::Ok) {
    throw std::runtime_error("GetImageEncoders failed");
  }
  for (UINT i = 0; i < count; ++i) {
    if (std::wstring(codecs[i].MimeType) == L"image/png") {
      return codecs[i].Clsid;
    }
  }
  throw std::runtime_error("no PNG encoder");
}

}  // namespace

Image CaptureScreen(const RECT& rect) {
  const int width = rect.right - rect.left;
  const int height = rect.bottom - rect.top;
  const app::WindowDc screen(nullptr);
  const app::MemoryDc memory(::CreateCompatibleDC(screen.get()));
  const app::BitmapHandle bitmap(::CreateCompatibleBitmap(screen.get(), width, height));
  if (!memory || !bitmap) {
    throw Failed("creating the capture bitmap");
  }
  const HGDIOBJ previous = ::SelectObject(memory.get(), bitmap.get());
  const BOOL copied =
      ::BitBlt(memory.get(), 0, 0, width, height, screen.get(), rect.left, rect.top, SRCCOPY);
  ::SelectObject(memory.get(), previous);
  if (!copied) {
    throw Failed("BitBlt from the screen");
  }
  return ReadPixels(screen.get(), bitmap.get(), width, height);
}

Image LoadBitmapFile(const std::wstring& path) {
  const app::BitmapHandle bitmap(static_cast<HBITMAP>(::LoadImageW(
      nullptr, path.c_str(), IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE | LR_CREATEDIBSECTION)));
  if (!bitmap) {
    throw Failed("loading " + app::WideToUtf8(path));
  }
  BITMAP info{};
  ::GetObjectW(bitmap.get(), sizeof info, &info);
  const app::WindowDc screen(nullptr);
  return ReadPixels(screen.get(), bitmap.get(), info.bmWidth, info.bmHeight);
}

void SavePng(const Image& image, const std::wstring& path) {
  const GdiPlus gdiPlus;
  std::vector<std::uint32_t> pixels = image.pixels;
  Gdiplus::Bitmap bitmap(image.width, image.height, image.width * 4, PixelFormat32bppRGB,
                         reinterpret_cast<BYTE*>(pixels.data()));
  const CLSID png = PngEncoder();
  if (bitmap.Save(path.c_str(), &png, nullptr) != Gdiplus::Ok) {
    throw std::runtime_error("cannot write " + app::WideToUtf8(path));
  }
}

Image LoadPng(const std::wstring& path) {
  const GdiPlus gdiPlus;
  Gdiplus::Bitmap bitmap(path.c_str());
  if (bitmap.GetLastStatus() != Gdiplus::Ok) {
    throw std::runtime_error("cannot read " + app::WideToUtf8(path));
  }
  Image image;
  image.width = static_cast<int>(bitmap.GetWidth());
  image.height = static_cast<int>(bitmap.GetHeight());
  image.pixels.resize(static_cast<std::size_t>(image.width) *
                      static_cast<std::size_t>(image.height));
  Gdiplus::BitmapData data{};
  data.Width = bitmap.GetWidth();
  data.Height = bitmap.GetHeight();
  data.Stride = image.width * 4;
  data.PixelFormat = PixelFormat32bppRGB;
  data.Scan0 = image.pixels.data();
  const Gdiplus::Rect all(0, 0, image.width, image.height);
  if (bitmap.LockBits(&all, Gdiplus::ImageLockModeRead | Gdiplus::ImageLockModeUserInputBuf,
                      PixelFormat32bppRGB, &data) != Gdiplus::Ok) {
    throw std::runtime_error("cannot read the pixels of " + app::WideToUtf8(path));
  }
  bitmap.UnlockBits(&data);
  for (std::uint32_t& pixel : image.pixels) {
    pixel &= 0xFFFFFF;
  }
  return image;
}

}  // namespace brintel::testing
