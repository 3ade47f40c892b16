#pragma once

namespace brintel::cli {

// The live page: its HTML, style and script, served as they are. The script
// sets every text from the station as text, never as markup.
extern const char* const kStationPageHtml;
extern const char* const kStationPageCss;
extern const char* const kStationPageJs;

}  // namespace brintel::cli
