#pragma once

#include <cstdint>

#include <windows.h>
#include "app/Handles.h"

#include <commctrl.h>

namespace brintel::app {

// The two instruction pictures a package names, painted once into the main
// dialog's client area. Each picture keeps its bitmap and the memory drawing
// context that holds it until the next pair replaces it or this object goes.
class InstructionPictures {
 public:
  // Pixel positions in the client area, whatever the dialog's layout: the
  // right picture always starts where the blank left one (134) ends.
  static constexpr int kLeftX = 0;
  static constexpr int kRightX = 207;
  static constexpr int kTop = 140;

  // Paints bitmap `rightId` at 207,140 and then bitmap `leftId` at 0,140 of
  // `window`'s client area, so a wide left picture covers part of the right
  // one. An id that names no bitmap of `instance` paints nothing in its place
  // and leaves that place's previous picture held. Nothing repaints them.
  void Draw(HWND window, HINSTANCE instance, std::uint16_t leftId, std::uint16_t rightId);

 private:
  struct Picture {
    // Declared before the context, so that the context, which holds the
    // bitmap selected, is deleted first.
    BitmapHandle bitmap;
    MemoryDc dc;
  };

  void DrawOne(HDC target, HINSTANCE instance, std::uint16_t id, Picture& picture, int x);

  BITMAP pictureInfo_{};
  Picture left_;
  Picture right_;
};

}  // namespace brintel::app
