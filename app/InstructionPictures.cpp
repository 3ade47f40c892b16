#include "app/InstructionPictures.h"

#include <utility>

namespace brintel::app {

void InstructionPictures::Draw(HWND window, HINSTANCE instance, std::uint16_t leftId,
                               std::uint16_t rightId) {
  const WindowDc client(window);
  if (client.get() == nullptr) {
    return;
  }
  DrawOne(client.get(), instance, rightId, right_, kRightX);
  DrawOne(client.get(), instance, leftId, left_, kLeftX);
}

void InstructionPictures::DrawOne(HDC target, HINSTANCE instance, std::uint16_t id,
                                  Picture& picture, int x) {
  BitmapHandle bitmap(::LoadBitmapA(instance, MAKEINTRESOURCEA(id)));
  if (!bitmap) {
    return;
  }
  BITMAP info{};
  if (::GetObjectA(bitmap.get(), sizeof info, &info) == 0) {
    return;
  }
  MemoryDc dc(::CreateCompatibleDC(target));
  if (!dc) {
    return;
  }
  // The old context goes before the old bitmap it holds selected.
  picture.dc.reset();
  picture.bitmap = std::move(bitmap);
  picture.dc = std::move(dc);
  pictureInfo_ = info;
  ::SelectObject(picture.dc.get(), picture.bitmap.get());
  ::BitBlt(target, x, kTop, pictureInfo_.bmWidth, pictureInfo_.bmHeight, picture.dc.get(), 0, 0,
           SRCCOPY);
}

}  // namespace brintel::app
