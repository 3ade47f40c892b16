#include "app/UpgradeApp.h"

#include "app/UpgradeDialog.h"

namespace brintel::app {

int UpgradeApp::Run() {
  // The progress bar is a common control: its class must be registered
  // before the template that holds it is created.
  INITCOMMONCONTROLSEX controls{};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_PROGRESS_CLASS;
  ::InitCommonControlsEx(&controls);

  UpgradeDialog dialog(instance_);
  dialog.ShowModal(nullptr);  // how it ended makes no difference
  return 0;
}

}  // namespace brintel::app
