#include "session/SessionState.h"

#include <algorithm>

namespace quilta {

const std::vector<std::string>& SessionState::classes() const {
  static const std::vector<std::string> none;
  return selectedClasses ? *selectedClasses : none;
}

std::string ClassClause(const SessionState& state, const std::string& value) {
  if (state.classFieldType == 4) {
    // An apostrophe inside the literal is written twice, so a value such as
    // "farmer's field" selects its patches instead of breaking the clause.
    std::string literal;
    for (char c : value) {
      literal += c;
      if (c == '\'') literal += '\'';
    }
    return state.classFieldName + " = '" + literal + " '";
  }
  std::string number = value;
  std::replace(number.begin(), number.end(), ',', '.');
  return state.classFieldName + " = " + number;
}

}  // namespace quilta
