#pragma once
// What every operation of the tool shares during one period of work: the host,
// the class model (class field and selected classes), the progress counter and
// the flags set by the Cancel and Change buttons.
//
// A class is the set of patches (polygon features) whose class field holds one
// value; the selected classes are the values the user chose, in the order
// chosen. The pseudo field "noclass" puts every patch into the class "no class".

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quilta {

class HostApplication;
class MapDocument;
class FeatureTable;

// How the last operation ended, for callers that script the tool.
enum class Outcome { Completed, Refused, Failed, Cancelled };

struct SessionState {
  HostApplication* application = nullptr;  // set once when the command is created
  MapDocument* document = nullptr;         // fetched at the start of each operation
  std::string layerName;                   // layer whose classes were last offered
  std::string classFieldName;              // "", "noclass" or a field of the layer
  int classFieldType = 0;                  // field type code; 4 is text
  // Absent between the closing of the tool window and the next command click.
  std::optional<std::vector<std::string>> selectedClasses = std::vector<std::string>{};
  std::int64_t progressCounter = 0;
  bool cancel = false;
  bool selectionCancelled = false;
  bool changeFieldRequest = false;
  bool changeClassesRequest = false;
  std::string companionToolPath;
  Outcome lastOutcome = Outcome::Completed;
  // Tables whose invalid patches have been reported: once per run and table.
  std::vector<const FeatureTable*> invalidShapesReported;

  // The selected class values; empty when the list is absent.
  const std::vector<std::string>& classes() const;
};

inline constexpr const char* kNoClassField = "noclass";
inline constexpr const char* kNoClassValue = "no class";

// The where clause that selects the patches of one class value:
//   text class field:  <field> = '<value> '   (apostrophes in the value doubled)
//   other fields:      <field> = <value>      (decimal commas become points)
std::string ClassClause(const SessionState& state, const std::string& value);

}  // namespace quilta
