#pragma once

#include <string>

#include "cli/terminal/ProgressText.h"

namespace brintel::cli {

// "5/70 7% 1:23 left" (without the percent when the status holds it).
std::string BlockCount(const BlockEstimate& progress, bool withPercent);

// The status, then the bar and the block count, in one line of fewer than
// `width` columns, so that it never wraps: the bar narrows first, then the
// status drops its label, then it is cut. The status of a transfer holds the
// percent already; it moves behind the bar when a cut would take it.
std::string LiveLine(const std::string& status, const BlockEstimate& progress, int width);

}  // namespace brintel::cli
