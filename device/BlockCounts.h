#pragma once

namespace brintel {

// What happened to the blocks of one run, for front ends and records. A block
// is sent again after a refusal, a wrong echo byte or a silence; each reason
// is counted apart. Counting never changes a step.
struct BlockCounts {
  int accepted = 0;
  int retryAcknowledgements = 0;    // the display answered BLOCK_RETRY
  int wrongEchoes = 0;              // an echo byte that was not the complement
  int echoSilences = 0;             // the echo stopped short and no acknowledgement came
  int acknowledgementSilences = 0;  // the echo was whole, the acknowledgement never came
  int identificationFailures = 0;   // no reply, a wrong reply or a bad frame between blocks
  int portsLost = 0;                // every write refused: the display was unplugged
  int otherDisplays = 0;            // a display the package was not made for answered

  int sentAgain() const {
    return retryAcknowledgements + wrongEchoes + echoSilences + acknowledgementSilences;
  }
  friend bool operator==(const BlockCounts&, const BlockCounts&) = default;
};

}  // namespace brintel
