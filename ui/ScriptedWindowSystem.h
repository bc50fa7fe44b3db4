#pragma once
// A window system that answers from a script instead of a person: used by the
// tests and by the command line. Every message box, prompt, dialog and window
// is recorded in order.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/WindowSystem.h"

namespace quilta {

class ScriptedWindowSystem : public WindowSystem {
 public:
  // What was shown, in order.
  std::vector<MessageBox> messages;
  std::vector<InputBox> inputs;
  std::vector<FileDialog> fileDialogs;
  std::vector<std::string> windowsShown;
  std::vector<std::string> shellOpened;
  std::vector<std::string> programsStarted;

  // Answers consumed in order; `answers` by questions (boxes with two
  // buttons) only. When a queue is empty: message boxes get the answer of
  // `defaultAnswer` (without one: OK, or Yes for Yes/No questions), input
  // boxes their default text, file dialogs are cancelled.
  std::deque<Answer> answers;
  std::deque<std::optional<std::string>> inputAnswers;
  std::deque<std::optional<std::string>> fileAnswers;
  std::function<Answer(const MessageBox&)> defaultAnswer;
  std::function<std::optional<std::string>(const InputBox&)> defaultInput;
  std::function<std::optional<std::string>(const FileDialog&)> defaultFile;

  // What the user does in a window, by window name, one action per showing;
  // the last action of a window stays for later showings. A window still
  // open after its action is closed as if by its close box.
  std::map<std::string, std::deque<std::function<void(WindowModel&)>>> actions;
  // From now on, `action` answers every showing of `window`.
  void onShow(const std::string& window, std::function<void(WindowModel&)> action) {
    actions[window] = {std::move(action)};
  }
  // `action` answers the showing after those already queued.
  void thenOnShow(const std::string& window, std::function<void(WindowModel&)> action) {
    actions[window].push_back(std::move(action));
  }

  // Pending input and what processing it does (for cancel tests).
  std::function<bool()> pending;
  std::function<void()> onProcessEvents;
  // Programs that can be started.
  std::function<bool(const std::string&)> canStart;
  std::function<void(WindowModel&)> onRepaint;

  Answer messageBox(const MessageBox& box) override;
  std::optional<std::string> inputBox(const InputBox& box) override;
  std::optional<std::string> fileDialog(const FileDialog& dialog) override;
  void showModal(WindowModel& window) override;
  bool inputPending() override { return pending ? pending() : false; }
  void processEvents() override {
    if (onProcessEvents) onProcessEvents();
  }
  void repaint(WindowModel& window) override {
    if (onRepaint) onRepaint(window);
  }
  void shellOpen(const std::string& target) override { shellOpened.push_back(target); }
  bool startProgram(const std::string& path, int windowStyle) override;

  // Texts of the recorded message boxes, for assertions.
  std::vector<std::string> messageTexts() const;
};

}  // namespace quilta
