#include "ui/ScriptedWindowSystem.h"

namespace quilta {

Answer ScriptedWindowSystem::messageBox(const MessageBox& box) {
  messages.push_back(box);
  if (box.buttons == Buttons::OK && !defaultAnswer) return Answer::OK;
  if (box.buttons != Buttons::OK && !answers.empty()) {
    Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  if (defaultAnswer) return defaultAnswer(box);
  return box.buttons == Buttons::YesNo ? Answer::Yes : Answer::OK;
}

std::optional<std::string> ScriptedWindowSystem::inputBox(const InputBox& box) {
  inputs.push_back(box);
  if (!inputAnswers.empty()) {
    auto a = inputAnswers.front();
    inputAnswers.pop_front();
    return a;
  }
  if (defaultInput) return defaultInput(box);
  return box.defaultText;
}

std::optional<std::string> ScriptedWindowSystem::fileDialog(const FileDialog& dialog) {
  fileDialogs.push_back(dialog);
  if (!fileAnswers.empty()) {
    auto a = fileAnswers.front();
    fileAnswers.pop_front();
    return a;
  }
  if (defaultFile) return defaultFile(dialog);
  return std::nullopt;
}

void ScriptedWindowSystem::showModal(WindowModel& window) {
  windowsShown.push_back(window.name());
  window.loaded = true;
  window.open = true;
  auto it = actions.find(window.name());
  if (it != actions.end() && !it->second.empty()) {
    auto action = it->second.front();
    if (it->second.size() > 1) it->second.pop_front();
    action(window);
  }
  window.open = false;
}

bool ScriptedWindowSystem::startProgram(const std::string& path, int windowStyle) {
  (void)windowStyle;
  bool ok = canStart ? canStart(path) : false;
  if (ok) programsStarted.push_back(path);
  return ok;
}

std::vector<std::string> ScriptedWindowSystem::messageTexts() const {
  std::vector<std::string> out;
  for (const auto& m : messages) out.push_back(m.text);
  return out;
}

}  // namespace quilta
