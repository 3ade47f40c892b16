#pragma once

#include <chrono>

namespace brintel::sim {

// The timing of a full-duplex serial line at `baud` with 10 bits a byte (8N1).
// A pseudo-terminal moves bytes in microseconds; this says when they would
// have crossed a real line. With baud 0 every byte crosses at once.
class PacedLine {
 public:
  using Clock = std::chrono::steady_clock;

  explicit PacedLine(unsigned baud);

  Clock::duration ByteTime() const { return byteTime_; }

  // When a byte the tool wrote, seen at `seen`, has finished arriving: each
  // byte spends one byte time on the line, after the one before it.
  Clock::time_point Arrival(Clock::time_point seen);

  // When a byte ready to go at `ready` has reached the tool: it leaves when the
  // line is free and spends one byte time on it.
  Clock::time_point Delivery(Clock::time_point ready);

  // A new line (the display plugged in again): nothing is on it.
  void Reset();

 private:
  Clock::duration byteTime_;
  Clock::time_point lastArrival_{};
  Clock::time_point lastDelivery_{};
};

}  // namespace brintel::sim
