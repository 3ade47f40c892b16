#pragma once

#include "device/SearchTexts.h"

// The texts the user reads, exactly as the tool has always shown them (UTF-8);
// the search's status texts come from the device link.
namespace brintel::messages {

// Front ends: the status text before the first Start, and the message shown
// before the main window opens.
inline constexpr char kInitialStatus[] = "请将行车显示器插到电脑USB口，然后马上按\"Start\"。";
inline constexpr char kStartupMessage[] =
    "请摸一下OBD插头里面的两根长针，泄放静电，然后按照随后出现的示意图，调整好显示器背面的跳线开关"
    "。";

inline constexpr char kGettingList[] = "Getting list... ";
inline constexpr char kGetting[] = "Getting ";
inline constexpr char kGettingEnd[] = "...";
inline constexpr char kTransferring[] = " transferring... ";
inline constexpr char kUnplug[] = "请拔下行车显示器";
inline constexpr char kProgramError[] = "Program error!";
inline constexpr char kFail[] = "fail";
inline constexpr char kNoList[] = "无法获取程序列表，请拔下行车显示器，等一分钟再试。";
inline constexpr char kNoPackage[] = "无法获取程序数据，请拔下行车显示器，等一分钟再试。";
inline constexpr char kStopMidwayHint[] = "若升级中途停止，请立刻拔下行车显示器，等10秒再插上。";
inline constexpr char kPlugIn[] = "请将行车显示器插到电脑USB口，然后马上按\"确定\"。";
inline constexpr char kCompleted[] =
    "程序升级完毕，请拔下行车显示器，按图调整显示器背后的跳线开关，然后按\"Cancel\"退出。";

inline constexpr char kCaptionError[] = "Error";
inline constexpr char kCaptionNoError[] = "No error";
inline constexpr char kCaptionUpgrade[] = "升级";

}  // namespace brintel::messages
