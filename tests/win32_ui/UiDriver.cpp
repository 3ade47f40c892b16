// brintel-ui-driver: plays the user of brintel.exe in the same Wine session
// (or on Windows): starts it, reads its windows, presses its buttons, answers
// its messages, and prints a transcript, one line per event. Exits 1 on the
// first thing on screen that differs from what the user must see, naming it.
//
//   brintel-ui-driver --scenario upgrade|failures|unplug|stop-cancel|other-display [options]
//     --exe PATH          the program (default: brintel.exe beside the driver)
//     --com N             the COM number the display is on
//     --identity HEX16    the display's identity (default 1027262514131211)
//     --address TEXT      what to type into the hidden "IP:" box
//     --program NAME      the program to choose (UTF-8; needs a UTF-8 locale)
//     --title TEXT        its package's title
//     --pictures L,R      its package's picture ids
//     --picture-dir DIR   the picture bitmaps: check them on screen
//     --program-index F   the server's index.txt: the names the choice must offer
//     --shots DIR         save screenshots of the stages there
//     --case KIND=ADDR    failures, in order: list, list-error, package,
//                         package-error, other-device
//     --healthy ADDR      failures: a working server for the last Start
//     --unplugged-after N unplug: blocks accepted before the display goes
//     --stop-after N      stop-cancel: blocks accepted before Stop
//     --cancel-after N    stop-cancel: blocks accepted in the next run before Cancel
//     --swap-request F    other-display: create F to have the display swapped;
//                         the far side removes it once done
//     --limit SECONDS     give up after this long (default 180)

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include <windows.h>
#include "RemoteUi.h"
#include "Scenarios.h"
#include "Transcript.h"
#include "app/WideText.h"

#include <commctrl.h>
// After the Windows headers it builds on.
#include <shellapi.h>

namespace {

using brintel::app::WideToUtf8;
using brintel::testing::Options;

int Usage(const std::string& problem) {
  std::fprintf(stderr, "brintel-ui-driver: %s (see the head of UiDriver.cpp)\n", problem.c_str());
  return 2;
}

std::wstring BesideMe(const wchar_t* name) {
  std::wstring path(MAX_PATH, L'\0');
  path.resize(::GetModuleFileNameW(nullptr, path.data(), MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

bool ToInt(const std::wstring& text, int& value) {
  if (text.empty() || text.find_first_not_of(L"0123456789") != std::wstring::npos ||
      text.size() > 6) {
    return false;
  }
  value = std::stoi(text);
  return true;
}

}  // namespace

int main() {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  Options options;
  options.exe = BesideMe(L"brintel.exe");
  int limitSeconds = 180;
  for (int i = 1; i < argc; ++i) {
    const std::wstring name = argv[i];
    if (i + 1 >= argc) {
      return Usage("option " + WideToUtf8(name) + " wants a value");
    }
    const std::wstring value = argv[++i];
    bool valid = true;
    if (name == L"--scenario") {
      options.scenario = WideToUtf8(value);
    } else if (name == L"--exe") {
      options.exe = value;
    } else if (name == L"--com") {
      valid = ToInt(value, options.com);
    } else if (name == L"--identity") {
      options.identity = WideToUtf8(value);
    } else if (name == L"--address") {
      options.address = value;
    } else if (name == L"--program") {
      options.program = WideToUtf8(value);
    } else if (name == L"--title") {
      options.title = WideToUtf8(value);
    } else if (name == L"--pictures") {
      const std::size_t comma = value.find(L',');
      valid = comma != std::wstring::npos && ToInt(value.substr(0, comma), options.leftPicture) &&
              ToInt(value.substr(comma + 1), options.rightPicture);
    } else if (name == L"--picture-dir") {
      options.pictures = value;
    } else if (name == L"--program-index") {
      options.programIndex = value;
    } else if (name == L"--shots") {
      options.shots = value;
    } else if (name == L"--case") {
      brintel::testing::FailureCase failure;
      valid = brintel::testing::ParseFailureCase(value, failure);
      options.cases.push_back(failure);
    } else if (name == L"--healthy") {
      options.healthyAddress = value;
    } else if (name == L"--unplugged-after") {
      valid = ToInt(value, options.unpluggedAfter);
    } else if (name == L"--stop-after") {
      valid = ToInt(value, options.stopAfter);
    } else if (name == L"--cancel-after") {
      valid = ToInt(value, options.cancelAfter);
    } else if (name == L"--swap-request") {
      options.swapRequest = value;
    } else if (name == L"--limit") {
      valid = ToInt(value, limitSeconds);
    } else {
      return Usage("unknown option " + WideToUtf8(name));
    }
    if (!valid) {
      return Usage("bad value \"" + WideToUtf8(value) + "\" for " + WideToUtf8(name));
    }
  }
  ::LocalFree(argv);
  if (options.scenario.empty()) {
    return Usage("no --scenario");
  }
  if (options.pictures.empty() != (options.leftPicture == 0)) {
    return Usage("--pictures and --picture-dir go together");
  }

  // A program that stops answering must not hold the test: the driver ends
  // and takes the program with it (its destructor terminates it).
  std::thread([limitSeconds] {
    std::this_thread::sleep_for(std::chrono::seconds(limitSeconds));
    std::printf("MISMATCH: the scenario did not end within %d s\n", limitSeconds);
    std::fflush(stdout);
    ::ExitProcess(1);
  }).detach();

  brintel::testing::Transcript transcript;
  try {
    brintel::testing::RunScenario(options, transcript);
  } catch (const brintel::testing::Mismatch& mismatch) {
    std::printf("MISMATCH: %s\n", mismatch.what());
    return 1;
  } catch (const std::exception& error) {
    std::printf("ERROR: %s\n", error.what());
    return 1;
  }
  transcript.Line("passed", options.scenario);
  return 0;
}
