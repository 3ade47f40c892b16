#pragma once

#include "app/ModalDialog.h"
#include "res/resource.h"

namespace brintel::app {

// The About box of the system menu: the template alone, its OK button ends it.
class AboutDialog final : public ModalDialog {
 public:
  explicit AboutDialog(HINSTANCE instance) : ModalDialog(instance, IDD_ABOUTBOX) {}
};

}  // namespace brintel::app
