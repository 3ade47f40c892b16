#pragma once

// The status texts of the search, exactly as the tool has always shown them
// (UTF-8); the engine's own texts are beside them in engine/Messages.h.
namespace brintel::messages {

inline constexpr char kSearching[] = "正在搜索行车显示器...";
inline constexpr char kFound[] = " found... ";
inline constexpr char kFoundNoSerial[] = " found but no sn sent.";

}  // namespace brintel::messages
