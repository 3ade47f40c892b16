#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "app/Handles.h"
#include "app/InstructionPictures.h"
#include "app/ModalDialog.h"
#include "device/win32/Win32SerialPort.h"
#include "engine/UpgradeEngine.h"
#include "engine/UpgradeHost.h"
#include "server/win32/Win32GbkDecoder.h"
#include "server/win32/WinInetHttpClient.h"

namespace brintel::app {

// The main window (template 102): the status box, the progress bar, Start,
// Stop and Cancel. It holds no upgrade logic: it presents what its engine
// says and drives the engine with the buttons and timer 1.
class UpgradeDialog final : public ModalDialog, public UpgradeHost {
 public:
  // Shows the start-up message box, owned by no window, and returns when the
  // user has closed it: it comes before the main window.
  explicit UpgradeDialog(HINSTANCE instance);

  // UpgradeHost, on the dialog's controls. Valid while the dialog is shown.
  void ReadControls(std::string& statusText, std::string& serverAddress) override;
  void WriteControls(const std::string& statusText, const std::string& serverAddress) override;
  void ShowMessage(const std::string& text, const std::string& caption) override;
  ProgramChoice ChooseProgram(const std::vector<std::string>& names) override;
  void StartTimer() override;
  void StopTimer() override;
  void SetProgress(int position) override;
  void SetTitle(const std::string& title) override;
  void DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) override;

 private:
  INT_PTR OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnInitDialog();
  bool OnSysCommand(WPARAM command);
  bool OnPaint();

  HICON icon_ = nullptr;  // shared: the system frees it
  IconHandle smallIcon_;
  Win32SerialPort port_;
  WinInetHttpClient http_;
  Win32GbkDecoder gbk_;
  UpgradeEngine engine_;
  InstructionPictures pictures_;
};

}  // namespace brintel::app
