#include "ScriptedUser.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>

#include "ResultPrinter.h"
#include "metrics/Extension.h"

namespace quilta::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& i : items) out += (out.empty() ? "" : ", ") + ("\"" + i + "\"");
  return out;
}

// Index of `wanted` in `items`: exact match first, then ignoring letter case.
long long find(const std::vector<std::string>& items, const std::string& wanted) {
  auto exact = std::find(items.begin(), items.end(), wanted);
  if (exact != items.end()) return exact - items.begin();
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  };
  for (std::size_t i = 0; i < items.size(); ++i)
    if (lower(items[i]) == lower(wanted)) return static_cast<long long>(i);
  return -1;
}

std::int64_t nowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// A line of --progress json, the percentage with one decimal.
std::string progressLine(const std::string& operation, const Workbench::Progress& p) {
  char percent[16];
  auto end = std::to_chars(percent, percent + sizeof percent, std::round(p.fraction * 1000) / 10,
                           std::chars_format::fixed, 1)
                 .ptr;
  return "{\"progress\":" + std::string(percent, end) + ",\"operation\":" + jsonString(operation) +
         ",\"step\":" + std::to_string(p.step) + ",\"steps\":" + std::to_string(p.steps) +
         ",\"item\":" + std::to_string(p.item) + ",\"items\":" + std::to_string(p.items) + "}\n";
}

// Message texts use a carriage return between lines; a terminal wants \n.
std::string printable(std::string text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\n  ";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\n  ";
    } else {
      out += text[i];
    }
  }
  return out;
}

// The classes named by the --classes options: an option whose whole text is
// an offered class (such as "2,5" with a decimal comma) names that class;
// any other is a comma-separated list.
std::vector<std::string> classList(const std::vector<std::string>& options, const std::vector<std::string>& offered) {
  std::vector<std::string> out;
  for (const auto& option : options) {
    if (std::find(offered.begin(), offered.end(), option) != offered.end()) {
      out.push_back(option);
      continue;
    }
    std::size_t start = 0;
    for (std::size_t comma; (comma = option.find(',', start)) != std::string::npos; start = comma + 1)
      out.push_back(option.substr(start, comma - start));
    out.push_back(option.substr(start));
  }
  return out;
}

}  // namespace

const std::map<std::string, std::string>& operationButtons() {
  static const std::map<std::string, std::string> buttons = {
      {"area-perimeter", "cmdArea"},  {"nearest-neighbour", "cmdClasses"}, {"px92", "cmdPX"},
      {"px94", "cmdPX94"},            {"proximity", "cmdPXfrag"},          {"dissolve-id", "cmdDissolveID"},
      {"area", "cmdAreaForm"},        {"edge", "cmdEdges"},                {"form", "cdmshpIx"},
      {"core-area", "cmdCore"},       {"diversity", "cmdDiversity"},       {"subdivision", "cmdDivision"},
      {"delete-fields", "cmdDelFlds"}};
  return buttons;
}

void ScriptedUser::interrupt() { interrupted = 1; }
bool ScriptedUser::interruptPending() { return interrupted != 0; }

ScriptedUser::ScriptedUser(ScriptedWindowSystem& ws, const Options& options)
    : ws_(ws), options_(options), terminal_(isatty(STDERR_FILENO) == 1) {}

void ScriptedUser::onMessage(const MessageBox& box) {
  if (progressShown_) {
    std::cerr << "\r\033[K";
    progressShown_ = false;
  }
  std::cerr << box.title << ": " << printable(box.text) << "\n";
  if (!box.detail.empty()) std::cerr << "cause: " << box.detail << "\n";
}

void ScriptedUser::showProgress(Extension& ext) {
  const auto& bar = ext.workbench.main.ProgressBar1;
  if (!bar.visible || bar.max <= 0) return;
  if (options_.progressJson) return printProgressLine(ext.workbench, !operationLinePrinted_);
  if (!terminal_) return;
  const auto percent = static_cast<int>(100 * ext.workbench.progress().fraction);
  std::cerr << "\r\033[K" << "working: " << bar.value << " of " << bar.max << " (" << percent << " %)" << std::flush;
  progressShown_ = true;
}

void ScriptedUser::printProgressLine(const Workbench& wb, bool now) {
  const std::int64_t t = nowNs();
  if (!now && t - lastLineNs_ < 100'000'000) return;
  lastLineNs_ = t;
  operationLinePrinted_ = true;
  const Workbench::Progress p = wb.progress();
  lastSteps_ = p.steps;
  std::cerr << progressLine(operation_, p);
}

void ScriptedUser::beginOperation(const std::string& name) {
  operation_ = name;
  operationLinePrinted_ = false;
  lastSteps_ = 0;
}

void ScriptedUser::endOperation(bool completed) {
  if (!options_.progressJson || !completed) return;
  Workbench::Progress done;
  done.step = done.steps = lastSteps_;
  done.fraction = 1;
  std::cerr << progressLine(operation_, done);
}

void ScriptedUser::showResult(ResultWindow& window) {
  if (progressShown_) {
    std::cerr << "\r\033[K";
    progressShown_ = false;
  }
  if (options_.json) {
    printJson(std::cout, window);
  } else {
    printTable(std::cout, window);
  }
  std::cout.flush();
  if (options_.reportsDir) {
    // The file dialog answers with the report folder and the default name.
    if (!window.cmdTextfile_Click()) reportFailed_ = true;
    if (window.hasLandscapeLevel() && !window.cmdLandscape_Click()) reportFailed_ = true;
  }
  window.cmdClose_Click();
}

void ScriptedUser::attach(Extension& ext) {
  Workbench& wb = ext.workbench;
  if (options_.threads > 0) wb.threads = options_.threads;

  ws_.defaultAnswer = [this](const MessageBox& box) {
    onMessage(box);
    // A batch run goes on: the recommendation to use meters is only a warning,
    // the long-run confirmation is accepted, nothing is re-chosen.
    if (box.title == "Map Units") return Answer::Cancel;
    if (box.buttons == Buttons::YesNo) return Answer::No;
    return Answer::OK;
  };

  ws_.defaultInput = [this](const InputBox& box) -> std::optional<std::string> {
    if (box.title == "Proximity Buffer") {
      // The answer is the buffer and, when shorter than 6 characters, the
      // field name suffix too; otherwise the tool asks for the suffix ("PX").
      // A suffix of its own is given the way a person would: blanks after the
      // number (ignored when it is read) make the answer long enough for the
      // tool to ask. Whatever cannot work is refused before anything is
      // written: an empty answer ends the operation quietly.
      std::string answer = options_.buffer.value_or(box.defaultText);
      if (options_.suffix) {
        if (options_.suffix->size() >= 6) {
          usageError_ = "the field name suffix \"" + *options_.suffix + "\" is too long; give at most 5 characters";
          return std::nullopt;
        }
        if (*options_.suffix != answer && answer.size() < 6) answer.append(6 - answer.size(), ' ');
      } else if (answer.size() >= 6) {
        usageError_ = "the buffer text \"" + answer +
                      "\" is too long for a field name suffix; give one of at most 5 characters with --suffix";
        return std::nullopt;
      }
      return answer;
    }
    if (box.title == "PX") return options_.suffix.value_or("");
    if (box.title == "Core Area Distance") return options_.distance;
    if (box.title == " Potential Richness") return options_.potential.value_or(box.defaultText);
    return box.defaultText;
  };

  ws_.defaultFile = [this](const FileDialog& dialog) -> std::optional<std::string> {
    // A save dialog hands back a full path, with its default extension added
    // to a name typed without one; the option is completed the same way.
    if (dialog.filter.find("*.shp") != std::string::npos) {
      std::filesystem::path chosen = std::filesystem::absolute(options_.coreOutput.value_or(dialog.fileName));
      if (!chosen.has_extension()) chosen += dialog.defaultExtension;
      return chosen.string();
    }
    if (dialog.filter.find("*.txt") != std::string::npos && options_.reportsDir)
      return (std::filesystem::path(*options_.reportsDir) / (dialog.fileName + ".txt")).string();
    return std::nullopt;
  };

  ws_.onShow("frmFields", [this, &wb](WindowModel&) {
    auto& w = wb.fields;
    if (options_.noClassField) return w.cmdnoclass_Click();
    if (!options_.classField) {
      usageError_ = "choose the class field with --class-field NAME or --no-class-field; the layer offers " +
                    joined(w.lstFieldNames.items);
      return w.cmdCancel1_Click();
    }
    long long i = find(w.lstFieldNames.items, *options_.classField);
    if (i < 0) {
      inputError_ = "the layer has no class field \"" + *options_.classField + "\"; it offers " +
                    joined(w.lstFieldNames.items);
      return w.cmdCancel1_Click();
    }
    w.lstFieldNames.click(static_cast<std::size_t>(i));
    w.cmdlist_Click();
  });

  ws_.onShow("frmClasses", [this, &wb](WindowModel&) {
    auto& w = wb.classes;
    if (options_.classes.empty()) return w.cmdSelectAll_Click();
    // A class named twice is one class, analysed once where first named.
    std::vector<std::string> wanted;
    for (auto& c : classList(options_.classes, w.lstClassNames.items))
      if (std::find(wanted.begin(), wanted.end(), c) == wanted.end()) wanted.push_back(std::move(c));
    for (const auto& c : wanted) {
      auto it = std::find(w.lstClassNames.items.begin(), w.lstClassNames.items.end(), c);
      if (it == w.lstClassNames.items.end()) {
        inputError_ = "the class field \"" + wb.session.classFieldName + "\" has no class \"" + c + "\"; it offers " +
                      joined(w.lstClassNames.items);
        return w.cmdCancel2_Click();
      }
      auto index = static_cast<std::size_t>(it - w.lstClassNames.items.begin());
      if (!w.lstClassNames.selected[index]) w.lstClassNames.click(index);
    }
    // The classes in the order given: the chooser lists them in its own order,
    // so the selection is put in the user's order after the OK.
    w.cmdclasslist_Click();
    if (wb.session.selectedClasses) *wb.session.selectedClasses = wanted;
  });

  for (ResultWindow* window : ext.results.all())
    ws_.onShow(window->name(), [this, window](WindowModel&) { showResult(*window); });

  ws_.onShow("frmDelFields", [this, &wb](WindowModel&) {
    auto& w = wb.delFields;
    for (const auto& f : options_.fields) {
      long long i = find(w.lstDelFlds.items, f);
      if (i < 0) {
        inputError_ = "the layer has no field \"" + f + "\"; it has " + joined(w.lstDelFlds.items);
        return w.cmdCancel2_Click();
      }
      if (!w.lstDelFlds.selected[static_cast<std::size_t>(i)]) w.lstDelFlds.click(static_cast<std::size_t>(i));
    }
    w.cmdDelFlds_Click();
    // Without fields the window stays open after its warning: the run ends
    // there, refused.
    if (options_.fields.empty()) w.cmdCancel2_Click();
  });

  ws_.pending = [this] { return interrupted != 0 || terminal_ || options_.progressJson; };
  ws_.onProcessEvents = [this, &ext] {
    if (interrupted) {
      interrupted = 0;
      ext.workbench.main.click("cmdCancel");
      std::cerr << (progressShown_ ? "\n" : "") << "interrupted: cancelling the running operation\n";
      progressShown_ = false;
      return;
    }
    showProgress(ext);
  };
}

}  // namespace quilta::cli
