#include "run/ChannelHost.h"

#include <utility>

#include "run/ProgramByName.h"

namespace brintel::run {

ChannelHost::ChannelHost(Settings settings, RunListener listener)
    : RunHost(settings.address), settings_(std::move(settings)), listener_(std::move(listener)) {}

void ChannelHost::Emit(RunEvent event) const {
  event.channel = settings_.channel;
  if (listener_) {
    listener_(event);
  }
}

void ChannelHost::StatusChanged() {
  Emit(RunEvent::Of(RunEvent::Kind::kStatus, status()));
}

void ChannelHost::ShowMessage(const std::string& text, const std::string& caption) {
  MessageShown(text);
  RunEvent event = RunEvent::Of(RunEvent::Kind::kMessage, text);
  event.caption = caption;
  Emit(std::move(event));
}

ProgramChoice ChannelHost::ChooseProgram(const std::vector<std::string>& names) {
  offered_ = names;
  if (const std::optional<std::size_t> i = ProgramByName(names, settings_.program)) {
    program_ = names[*i];
    return {true, i};
  }
  Refuse(Refusal::kUnknownProgram);
  std::string held;
  for (const std::string& name : SortedNames(names)) {
    held += (held.empty() ? "" : ", ") + name;
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

void ChannelHost::RequestFailed(const std::string& url, const std::string& detail) {
  failure_ = detail;
  failedUrl_ = url;
  RunEvent event = RunEvent::Of(RunEvent::Kind::kRequestFailed);
  event.url = url;
  event.detail = detail;
  Emit(std::move(event));
}

void ChannelHost::BeginUnit() {
  ForgetRun();
  offered_.clear();
  program_.clear();
  title_.clear();
  failure_.clear();
  failedUrl_.clear();
}

}  // namespace brintel::run
