#include "cli/ChannelHost.h"

#include <ctime>
#include <utility>

#include "server/ProgramList.h"

namespace brintel::cli {

std::string IsoTime(std::chrono::system_clock::time_point at) {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count();
  const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
  std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(ms % 1000));
  return text;
}

ChannelHost::ChannelHost(Settings settings, RunListener listener)
    : settings_(std::move(settings)), listener_(std::move(listener)) {
  address_ = settings_.address;
}

void ChannelHost::Emit(RunEvent event) const {
  event.channel = settings_.channel;
  if (listener_) {
    listener_(event);
  }
}

void ChannelHost::ReadControls(std::string& statusText, std::string& serverAddress) {
  statusText = status_;
  serverAddress = address_;
}

void ChannelHost::WriteControls(const std::string& statusText, const std::string& serverAddress) {
  address_ = serverAddress;
  if (statusText != status_) {
    status_ = statusText;
    Emit(RunEvent::Of(RunEvent::Kind::kStatus, status_));
  }
}

void ChannelHost::ShowMessage(const std::string& text, const std::string& caption) {
  lastMessage_ = text;
  messages_.push_back(text);
  RunEvent event = RunEvent::Of(RunEvent::Kind::kMessage, text);
  event.caption = caption;
  Emit(std::move(event));
}

ProgramChoice ChannelHost::ChooseProgram(const std::vector<std::string>& names) {
  offered_ = names;
  const std::vector<std::size_t> order = SortedChoiceOrder(names);
  for (const std::size_t i : order) {
    if (!settings_.program || names[i] == *settings_.program) {
      program_ = names[i];
      return {true, i};
    }
  }
  refusal_ = Refusal::kUnknownProgram;
  std::string held;
  for (const std::size_t i : order) {
    held += (held.empty() ? "" : ", ") + names[i];
  }
  Note("the program list holds no \"" + settings_.program.value_or("") + "\"; it holds: " + held);
  return {};
}

void ChannelHost::SetProgress(int position) {
  RunEvent event = RunEvent::Of(RunEvent::Kind::kProgress);
  event.blocks = position;
  Emit(std::move(event));
}

void ChannelHost::SetTitle(const std::string& title) {
  title_ = title;
  Emit(RunEvent::Of(RunEvent::Kind::kTitle, title));
}

void ChannelHost::DrawInstructionPictures(std::uint16_t leftId, std::uint16_t rightId) {
  RunEvent event = RunEvent::Of(RunEvent::Kind::kPictures);
  event.leftPicture = leftId;
  event.rightPicture = rightId;
  Emit(std::move(event));
}

void ChannelHost::Note(const std::string& text) {
  Emit(RunEvent::Of(RunEvent::Kind::kNote, text));
}

void ChannelHost::BeginUnit() {
  refusal_ = Refusal::kNone;
  lastMessage_.clear();
  messages_.clear();
  offered_.clear();
  program_.clear();
  title_.clear();
}

}  // namespace brintel::cli
