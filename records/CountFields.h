#pragma once

#include "device/BlockCounts.h"

namespace brintel::records {

// A unit's counters under one set of names: the records' columns, the
// history's CSV and JSON, and the JSON events all use these, in this order.
struct CountField {
  const char* name;
  int BlockCounts::*member;  // null for resends, which is the sum of the four causes
};

inline constexpr CountField kCountFields[] = {
    {"blocks", &BlockCounts::accepted},
    {"resends", nullptr},
    {"retry_acknowledgements", &BlockCounts::retryAcknowledgements},
    {"wrong_echoes", &BlockCounts::wrongEchoes},
    {"echo_silences", &BlockCounts::echoSilences},
    {"acknowledgement_silences", &BlockCounts::acknowledgementSilences},
    {"identification_failures", &BlockCounts::identificationFailures},
    {"ports_lost", &BlockCounts::portsLost},
    {"other_displays", &BlockCounts::otherDisplays},
};

inline int CountValue(const BlockCounts& counts, const CountField& field) {
  return field.member != nullptr ? counts.*field.member : counts.sentAgain();
}

}  // namespace brintel::records
