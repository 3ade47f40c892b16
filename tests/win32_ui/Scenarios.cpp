#include "Scenarios.h"

#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

#include "Driver.h"
#include "Screen.h"
#include "UserTexts.h"
#include "app/WideText.h"

namespace brintel::testing {
namespace {

using namespace std::chrono_literals;
using app::Utf8ToWide;
using app::WideToUtf8;

constexpr int kBlocks = 70;
constexpr int kFullBar = 69;
constexpr int kResponsivenessProbes = 10;
constexpr auto kAnswerLimit = 1000ms;
constexpr auto kTransferLimit = 300s;  // ample for 9600 baud
constexpr auto kExitLimit = 5s;
constexpr auto kSwapLimit = 5s;
constexpr int kOtherDisplaySeconds = 10;

const ExpectedMessage kUnplug{texts::kCaptionNoError, texts::kUnplug};
const ExpectedMessage kPlugIn{texts::kCaptionUpgrade, texts::kPlugIn};
const ExpectedMessage kCompleted{texts::kCaptionNoError, texts::kCompleted};
const ExpectedMessage kProgramError{texts::kCaptionError, texts::kProgramError};
const ExpectedMessage kFail{texts::kCaptionError, texts::kFail};
const ExpectedMessage kNoList{texts::kCaptionError, texts::kNoList};
const ExpectedMessage kNoPackage{texts::kCaptionError, texts::kNoPackage};
const ExpectedMessage kStopMidway{texts::kCaptionError, texts::kStopMidway};

void LogTiming(Transcript& transcript, std::chrono::steady_clock::time_point since,
               const std::string& what) {
  char figure[32];
  std::snprintf(figure, sizeof figure, "%.3f s ",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count());
  transcript.Line("timing", figure + what);
}

// The program names of the server's export: "<hex>\t<UTF-8 name>" lines.
std::vector<std::string> ReadProgramIndex(const std::wstring& path) {
  std::vector<std::string> names;
  if (path.empty()) {
    return names;
  }
  std::ifstream file(path.c_str(), std::ios::binary);
  if (!file) {
    throw std::runtime_error("cannot read " + WideToUtf8(path));
  }
  for (std::string line; std::getline(file, line);) {
    const std::size_t tab = line.find('\t');
    if (tab != std::string::npos) {
      names.push_back(line.substr(tab + 1));
    }
  }
  return names;
}

Picture LoadPicture(const std::wstring& folder, int id) {
  return {id, LoadBitmapFile(folder + L"/" + std::to_wstring(id) + L".bmp")};
}

Area ClientArea(HWND main, HWND window) {
  const RECT rect = RectInClient(main, window);
  return {rect.left, rect.top, rect.right, rect.bottom};
}

std::string Counts(const SampleReport& report) {
  return std::to_string(report.matched) + " points match, " + std::to_string(report.skipped) +
         " under the message box";
}

// "COM21 transferring... 42%(sn=...)": the percentage, or -1 for any other text.
int TransferPercent(const std::wstring& status, const Options& options) {
  const std::wstring head = L"COM" + std::to_wstring(options.com) + L" transferring... ";
  const std::wstring tail = L"%" + Utf8ToWide(DeviceLabel(options.identity));
  if (status.size() <= head.size() + tail.size() || status.compare(0, head.size(), head) != 0 ||
      status.compare(status.size() - tail.size(), tail.size(), tail) != 0) {
    return -1;
  }
  const std::wstring digits = status.substr(head.size(), status.size() - head.size() - tail.size());
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of(L"0123456789") != std::wstring::npos) {
    return -1;
  }
  return std::stoi(digits);
}

// From Start to the transfer: the list message, the choice, the package's
// title, status and plug-in message. `atPlugIn` runs while the plug-in
// message is open.
void RunUpToTransfer(Driver& driver, const Options& options,
                     const std::function<void(HWND)>& atPlugIn = {},
                     const std::string& choiceShot = {}) {
  const std::string label = DeviceLabel(options.identity);
  driver.SetAddress(options.address);
  driver.PressStart();
  driver.Answer(kUnplug, [&](HWND) {
    ExpectEqual("status during the list request", "Getting list... " + label, driver.Status());
  });
  driver.Choose(options.program, ReadProgramIndex(options.programIndex), choiceShot);
  driver.Answer(kPlugIn, [&](HWND box) {
    ExpectEqual("window title", options.title, driver.Title());
    ExpectEqual("status before the transfer", texts::kStopMidway, driver.Status());
    if (atPlugIn) {
      atPlugIn(box);
    }
  });
}

// Waits until `blocks` blocks are accepted, checking on the way that the
// status names the port and a rising percentage.
void FollowTransfer(Driver& driver, const Options& options, int blocks) {
  const std::wstring found = L"COM" + std::to_wstring(options.com) + L" found... " +
                             Utf8ToWide(DeviceLabel(options.identity));
  int lastPercent = 0;
  driver.AwaitMainWindow(
      std::to_string(blocks) + " accepted blocks",
      [&] {
        // Until the first block: the hint, the search and the display found.
        if (driver.Status() == Utf8ToWide(texts::kStopMidway) ||
            driver.Status() == Utf8ToWide(texts::kSearching) || driver.Status() == found) {
          return false;
        }
        const int percent = TransferPercent(driver.Status(), options);
        if (percent < lastPercent || percent > 100) {
          throw Mismatch("status during the transfer: \"" + WideToUtf8(driver.Status()) + "\"");
        }
        lastPercent = percent;
        return driver.Progress() >= std::min(blocks, kFullBar) && percent >= blocks * 100 / kBlocks;
      },
      kTransferLimit);
}

// The completion message over a full bar; then Cancel ends the program.
void FinishUpgrade(Driver& driver, const Options& options, Transcript& transcript,
                   std::chrono::steady_clock::time_point started, const std::string& shot) {
  const std::string done =
      "COM" + std::to_string(options.com) + " transferring... 100%" + DeviceLabel(options.identity);
  driver.Answer(
      kCompleted,
      [&](HWND) {
        LogTiming(transcript, started, "from Start to the completion message");
        ExpectEqual("status at completion", done, driver.Status());
        ExpectEqual("window title at completion", options.title, driver.Title());
        if (driver.Progress() != kFullBar) {
          throw Mismatch("progress " + std::to_string(driver.Progress()) +
                         " at completion, want 69");
        }
        if (!shot.empty()) {
          driver.Shot(shot);
        }
      },
      kTransferLimit);
  // Completed: the timer stopped, the last progress text stays.
  driver.ExpectSteady(500ms);
  driver.PressCancelAndExpectExit(kExitLimit);
}

void Upgrade(const Options& options, Transcript& transcript) {
  Driver driver(transcript, options.exe, options.shots);
  driver.DismissStartup();
  driver.CheckMainWindow(options.pictures);

  std::vector<SamplePoint> points;
  if (!options.pictures.empty()) {
    const SIZE client = driver.ClientSize();
    points =
        PictureSamples(LoadPicture(options.pictures, options.leftPicture),
                       LoadPicture(options.pictures, options.rightPicture), client.cx, client.cy);
    // The same check before any package must fail, or it could not tell.
    const SampleReport before = driver.ComparePictures(points, {});
    if (before.differed == 0) {
      throw Mismatch("the package's pictures seem on screen before any package");
    }
  }
  driver.OpenAndCloseAbout();

  const auto started = std::chrono::steady_clock::now();
  std::vector<Area> covered;
  RunUpToTransfer(
      driver, options,
      [&](HWND box) {
        if (points.empty()) {
          return;
        }
        covered.push_back(ClientArea(driver.main(), box));
        const SampleReport report = driver.ComparePictures(points, covered);
        if (report.differed != 0 || report.matched == 0) {
          throw Mismatch("the package's pictures with the plug-in message: " +
                         report.firstDifference);
        }
        transcript.Line("pictures", std::to_string(options.leftPicture) + " at 0,140 and " +
                                        std::to_string(options.rightPicture) +
                                        " at 207,140: " + Counts(report));
        driver.Shot("plug-in");
      },
      "choice");

  FollowTransfer(driver, options, kBlocks / 2);
  if (!points.empty()) {
    const SampleReport report = driver.ComparePictures(points, {});
    if (report.differed != 0) {
      throw Mismatch("the package's pictures during the transfer: " + report.firstDifference);
    }
    transcript.Line("pictures", "during the transfer: " + Counts(report));
  }
  driver.Shot("transfer");

  FinishUpgrade(driver, options, transcript, started, "completed");
}

std::vector<ExpectedMessage> FailureMessages(FailureKind kind) {
  switch (kind) {
    case FailureKind::kList:
      return {kNoList};
    case FailureKind::kListError:
      return {kProgramError, kFail, kNoList};
    case FailureKind::kPackage:
      return {kNoPackage};
    case FailureKind::kPackageError:
      return {kProgramError, kFail, kNoPackage};
    case FailureKind::kOtherDevice:
      return {};
  }
  return {};
}

const char* KindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::kList:
      return "list";
    case FailureKind::kListError:
      return "list-error";
    case FailureKind::kPackage:
      return "package";
    case FailureKind::kPackageError:
      return "package-error";
    case FailureKind::kOtherDevice:
      return "other-device";
  }
  return "?";
}

// Every case in one session: each failure must leave the program idle and
// ready for the next Start.
void Failures(const Options& options, Transcript& transcript) {
  Driver driver(transcript, options.exe, options.shots);
  driver.DismissStartup();
  const std::string label = DeviceLabel(options.identity);
  const std::vector<std::string> names = ReadProgramIndex(options.programIndex);
  bool shotTaken = false;
  for (const FailureCase& failure : options.cases) {
    transcript.Line("case",
                    std::string(KindName(failure.kind)) + " at " + WideToUtf8(failure.address));
    driver.SetAddress(failure.address);
    driver.PressStart();
    driver.Answer(kUnplug, [&](HWND) {
      ExpectEqual("status during the list request", "Getting list... " + label, driver.Status());
    });
    const bool package =
        failure.kind != FailureKind::kList && failure.kind != FailureKind::kListError;
    if (package) {
      driver.Choose(options.program, names);
    }
    const std::vector<ExpectedMessage> messages = FailureMessages(failure.kind);
    for (std::size_t i = 0; i < messages.size(); ++i) {
      const bool last = i + 1 == messages.size();
      driver.Answer(messages[i], [&](HWND) {
        if (package) {
          ExpectEqual("status during the package request", "Getting " + options.program + "...",
                      driver.Status());
        }
        if (last && !shotTaken) {
          driver.Shot("failure");
          shotTaken = true;
        }
      });
    }
    driver.ExpectIdle();
  }
  if (!options.healthyAddress.empty()) {
    // Start works once more; the choice refused ends the run without a word.
    transcript.Line("case", "choice cancelled at " + WideToUtf8(options.healthyAddress));
    driver.SetAddress(options.healthyAddress);
    driver.PressStart();
    driver.Answer(kUnplug);
    driver.Choose("", names);
    driver.ExpectIdle();
  }
  driver.PressCancelAndExpectExit(kExitLimit);
}

// Unplugged mid-transfer, the display forgets its blocks: the run ends with
// the advice to unplug and wait, and the next Start must write it whole.
void Unplug(const Options& options, Transcript& transcript) {
  Driver driver(transcript, options.exe, options.shots);
  driver.DismissStartup();
  RunUpToTransfer(driver, options);
  FollowTransfer(driver, options, options.unpluggedAfter);
  const auto gone = std::chrono::steady_clock::now();
  driver.Answer(kStopMidway, [&](HWND box) {
    LogTiming(transcript, gone, "from the last accepted block to the message");
    const std::wstring status = driver.Status();
    std::chrono::milliseconds slowest{0};
    for (int probe = 0; probe < kResponsivenessProbes; ++probe) {
      const auto answer = AnswerTime(driver.main(), kAnswerLimit);
      if (!answer) {
        throw Mismatch("the main window did not answer within 1 s under the message");
      }
      slowest = std::max(slowest, *answer);
      std::this_thread::sleep_for(100ms);
      driver.Poll();
      // A timer left running would move the status or open another box.
      if (driver.OpenModal() != box || driver.Status() != status ||
          driver.Progress() != options.unpluggedAfter) {
        throw Mismatch("under the message: progress " + std::to_string(driver.Progress()) +
                       ", status changed or another window opened");
      }
    }
    transcript.Line("answers", std::to_string(kResponsivenessProbes) + " of " +
                                   std::to_string(kResponsivenessProbes) +
                                   " under the message, slowest " +
                                   std::to_string(slowest.count()) + " ms");
    driver.Shot("lost");
  });
  driver.ExpectIdle();
  if (driver.Progress() != options.unpluggedAfter) {
    throw Mismatch("progress " + std::to_string(driver.Progress()) + " once idle");
  }

  const auto started = std::chrono::steady_clock::now();
  RunUpToTransfer(driver, options);
  FinishUpgrade(driver, options, transcript, started, {});
}

void StopAndCancel(const Options& options, Transcript& transcript) {
  Driver driver(transcript, options.exe, options.shots);
  driver.DismissStartup();
  driver.SetAddress(options.address);
  driver.PressStart();
  driver.AwaitMainWindow(
      "the search", [&] { return driver.Status() == Utf8ToWide(texts::kSearching); }, 2s);
  driver.ExpectSteady(400ms);
  driver.PressStop();
  driver.ExpectIdle();

  RunUpToTransfer(driver, options);
  FollowTransfer(driver, options, options.stopAfter);
  driver.PressStop();
  driver.ExpectIdle();
  const int stoppedAt = driver.Progress();
  driver.ExpectSteady(500ms);
  if (driver.Progress() != stoppedAt) {
    throw Mismatch("the transfer went on after Stop");
  }

  // A new run from the search; Cancel ends the program in the middle of it.
  RunUpToTransfer(driver, options);
  FollowTransfer(driver, options, options.cancelAfter);
  driver.PressCancelAndExpectExit(kExitLimit);
}

// The display behind the port is a Linux simulator: the request file asks the
// far side to swap it, and is gone once the swap is done.
void SwapDisplay(const Options& options, Transcript& transcript, const std::string& what) {
  const HANDLE request = ::CreateFileW(options.swapRequest.c_str(), GENERIC_WRITE, 0, nullptr,
                                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (request == INVALID_HANDLE_VALUE) {
    throw std::runtime_error("cannot create " + WideToUtf8(options.swapRequest));
  }
  ::CloseHandle(request);
  const auto deadline = std::chrono::steady_clock::now() + kSwapLimit;
  while (::GetFileAttributesW(options.swapRequest.c_str()) != INVALID_FILE_ATTRIBUTES) {
    if (std::chrono::steady_clock::now() > deadline) {
      throw std::runtime_error("the display was not swapped within 5 s");
    }
    std::this_thread::sleep_for(20ms);
  }
  transcript.Line("display", what);
}

// Another display behind the port when the transfer begins: the package is
// keyed to the one found, so the run must write nothing into the other and
// keep searching, the window answering all along; Stop ends it. With the
// right display back, the next Start writes it whole.
void OtherDisplay(const Options& options, Transcript& transcript) {
  if (options.swapRequest.empty()) {
    throw std::runtime_error("other-display needs --swap-request");
  }
  Driver driver(transcript, options.exe, options.shots);
  driver.DismissStartup();
  RunUpToTransfer(driver, options, [&](HWND) {
    SwapDisplay(options, transcript, "another one behind COM" + std::to_string(options.com));
  });

  // A frame taken from the other display would name it in the status, and
  // its blocks would move the percentage.
  const std::wstring searching = Utf8ToWide(texts::kSearching);
  driver.AwaitMainWindow(
      "the search", [&] { return driver.Status() == searching; }, 2s);
  std::chrono::milliseconds slowest{0};
  for (int second = 0; second < kOtherDisplaySeconds; ++second) {
    const auto answer = AnswerTime(driver.main(), kAnswerLimit);
    if (!answer) {
      throw Mismatch("the main window did not answer within 1 s with the other display");
    }
    slowest = std::max(slowest, *answer);
    driver.ExpectSteady(1s);
  }
  transcript.Line("answers", std::to_string(kOtherDisplaySeconds) + " of " +
                                 std::to_string(kOtherDisplaySeconds) +
                                 " while searching past the other display, slowest " +
                                 std::to_string(slowest.count()) + " ms");
  driver.Shot("other-display");
  driver.PressStop();
  driver.ExpectIdle();

  SwapDisplay(options, transcript, "the right one back behind COM" + std::to_string(options.com));
  const auto started = std::chrono::steady_clock::now();
  RunUpToTransfer(driver, options);
  FinishUpgrade(driver, options, transcript, started, {});
}

}  // namespace

bool ParseFailureCase(const std::wstring& text, FailureCase& parsed) {
  static const struct {
    const wchar_t* name;
    FailureKind kind;
  } kinds[] = {
      {L"list", FailureKind::kList},
      {L"list-error", FailureKind::kListError},
      {L"package", FailureKind::kPackage},
      {L"package-error", FailureKind::kPackageError},
      {L"other-device", FailureKind::kOtherDevice},
  };
  const std::size_t equals = text.find(L'=');
  if (equals == std::wstring::npos || equals + 1 == text.size()) {
    return false;
  }
  for (const auto& kind : kinds) {
    if (text.compare(0, equals, kind.name) == 0) {
      parsed.kind = kind.kind;
      parsed.address = text.substr(equals + 1);
      return true;
    }
  }
  return false;
}

std::string DeviceLabel(const std::string& identity) {
  std::string label = "(sn=";
  for (std::size_t i = 0; i < identity.size(); ++i) {
    if (i > 0 && i % 4 == 0) {
      label += '-';
    }
    label += identity[i];
  }
  return label + ")";
}

void RunScenario(const Options& options, Transcript& transcript) {
  if (options.scenario == "upgrade") {
    Upgrade(options, transcript);
  } else if (options.scenario == "failures") {
    Failures(options, transcript);
  } else if (options.scenario == "unplug") {
    Unplug(options, transcript);
  } else if (options.scenario == "stop-cancel") {
    StopAndCancel(options, transcript);
  } else if (options.scenario == "other-display") {
    OtherDisplay(options, transcript);
  } else {
    throw std::runtime_error("no scenario \"" + options.scenario + "\"");
  }
}

}  // namespace brintel::testing
