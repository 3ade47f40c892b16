#pragma once

namespace brintel::run {

// How a unit ended: what a station records and counts.
enum class UnitOutcome {
  kCompleted,
  kListRefused,        // the list held no usable key or names
  kPackageRefused,     // too short, or its payload ends early
  kOtherDevice,        // the package names another display
  kOtherDisplay,       // another display answered in the transfer; nothing went into it
  kProgramNotOffered,  // the list lacks the program asked for
  kServerError,        // a request failed
  kPortLost,           // unplugged mid-transfer: the port went away
  kDisplaySilent,      // no valid answer for the silence limit: silent or babbling
  kStopped,
};

// The outcome as records, JSON and the history write it.
inline const char* OutcomeName(UnitOutcome outcome) {
  switch (outcome) {
    case UnitOutcome::kCompleted:
      return "completed";
    case UnitOutcome::kListRefused:
      return "list-refused";
    case UnitOutcome::kPackageRefused:
      return "package-refused";
    case UnitOutcome::kOtherDevice:
      return "other-device";
    case UnitOutcome::kOtherDisplay:
      return "other-display";
    case UnitOutcome::kProgramNotOffered:
      return "program-not-offered";
    case UnitOutcome::kServerError:
      return "server-error";
    case UnitOutcome::kPortLost:
      return "port-lost";
    case UnitOutcome::kDisplaySilent:
      return "display-silent";
    case UnitOutcome::kStopped:
      break;
  }
  return "stopped";
}

}  // namespace brintel::run
