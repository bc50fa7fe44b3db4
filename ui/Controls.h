#pragma once
// Window models: plain objects holding the state of a window's controls.
// Views draw them and forward clicks; they hold no logic of their own.

#include <cstdint>
#include <string>
#include <vector>

namespace quilta {

struct Control {
  std::string caption;
  std::string tooltip;
  bool visible = true;
};

struct TextBox {
  std::string text;
  bool visible = true;
};

struct ProgressBar {
  std::int64_t min = 0;
  std::int64_t max = 100;
  std::int64_t value = 0;
  bool visible = false;
};

// A list box; with multiSelect one click toggles an item.
struct ListBox {
  bool multiSelect = false;
  std::vector<std::string> items;
  std::vector<bool> selected;

  void clear() { items.clear(), selected.clear(); }
  void add(std::string item) { items.push_back(std::move(item)), selected.push_back(false); }
  // A click on item `index`.
  void click(std::size_t index);
  // Index of the first selected item, or -1.
  long long selectedIndex() const;
  bool anySelected() const;
};

// A list view in report mode: column headers, rows of a text and sub-items.
struct ListView {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> rows;  // rows[i][0] is the row text

  // Appends a row with its text; sub-items start empty.
  std::size_t addRow(std::string text);
  void setSubItem(std::size_t row, std::size_t index, std::string text);
};

class WindowModel {
 public:
  WindowModel(std::string name, std::string windowCaption)
      : caption(std::move(windowCaption)), name_(std::move(name)) {}
  virtual ~WindowModel() = default;
  const std::string& name() const { return name_; }

  std::string caption;
  // Loaded: created and holding its controls' state (visible or not).
  bool loaded = false;
  // Shown modally and not yet closed.
  bool open = false;
  // Ends the modal showing.
  void hide() { open = false; }

 private:
  std::string name_;
};

}  // namespace quilta
