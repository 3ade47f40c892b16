#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "Transcript.h"

namespace brintel::testing {

// How a server fails a run, as the user sees it: the messages after the
// program list or after the choice.
enum class FailureKind {
  kList,          // no usable list: the list failure message
  kListError,     // internet error on the list: Program error!, fail, list failure
  kPackage,       // no usable package: the package failure message
  kPackageError,  // internet error on the package: Program error!, fail, package failure
  kOtherDevice,   // a package for another display: no message at all
};

struct FailureCase {
  FailureKind kind = FailureKind::kList;
  std::wstring address;
};

struct Options {
  std::string scenario;       // upgrade, failures, unplug, stop-cancel, other-display
  std::wstring exe;           // brintel.exe
  std::wstring shots;         // folder for screenshots; empty: none
  std::wstring pictures;      // folder of the picture bitmaps; empty: no pixel checks
  std::wstring programIndex;  // the server's index.txt: the names the choice must offer
  int com = 0;                // the display's COM number
  std::string identity = "1027262514131211";
  std::wstring address;  // for the IP box
  std::string program;   // the program to choose (UTF-8)
  std::string title;     // its package's title (UTF-8)
  int leftPicture = 0;
  int rightPicture = 0;
  int unpluggedAfter = 0;  // unplug: blocks accepted before the display goes
  int stopAfter = 3;       // stop-cancel: blocks accepted before Stop
  int cancelAfter = 5;     // stop-cancel: blocks accepted before Cancel
  std::vector<FailureCase> cases;
  std::wstring healthyAddress;  // failures: a working server for the last Start
  // other-display: created to have the display behind the port swapped; the
  // far side removes it once the swap is done.
  std::wstring swapRequest;
};

// Parses "list-error=127.0.0.5" and the like; false on anything else.
bool ParseFailureCase(const std::wstring& text, FailureCase& parsed);

// "(sn=1027-2625-1413-1211)": how the status names the display.
std::string DeviceLabel(const std::string& identity);

// Runs the named scenario; throws Mismatch (or std::runtime_error when the
// run itself cannot be done).
void RunScenario(const Options& options, Transcript& transcript);

}  // namespace brintel::testing
