#include "app/UpgradeApp.h"

// WinMain rather than wWinMain: the command line is not read, and mingw-w64
// would need -municode for the wide entry point.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*showCommand*/) {
  brintel::app::UpgradeApp app(instance);
  return app.Run();
}
