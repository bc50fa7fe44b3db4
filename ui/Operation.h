#pragma once
// The frame every operation of the tool runs in.

#include <exception>
#include <new>
#include <string>

#include "host/HostError.h"
#include "ui/Workbench.h"

namespace quilta {

// The cause shown when an operation ran out of memory.
inline constexpr const char* kOutOfMemory =
    "out of memory: the layer's shapes and the operation's work do not fit in the memory available";

// Brackets one operation: clears the cancel flag and fetches the map document
// on entry; whatever way the operation ends, hides the progress bar and the
// Cancel button, writes what the layers have pending and releases the document.
class OperationScope {
 public:
  explicit OperationScope(Workbench& wb) : wb_(wb) {
    wb_.session.cancel = false;
    wb_.session.lastOutcome = Outcome::Completed;
    wb_.session.document = &wb_.app.document();
  }
  ~OperationScope() {
    wb_.finish();
    try {
      wb_.reportInvalidShapes();
    } catch (const std::exception&) {
      // A warning that cannot be given is no reason to lose the operation.
    }
    try {
      // A failed operation leaves none of a schema change it had not written.
      if (wb_.session.lastOutcome == Outcome::Failed) wb_.app.document().dropPendingSchemaChanges();
      wb_.app.document().syncLayers();
    } catch (const std::exception& e) {
      // Only reached when the operation itself succeeded in memory but the
      // final write failed: report it rather than lose it silently.
      wb_.session.lastOutcome = Outcome::Failed;
      wb_.message(kShapefileError, kComponentTitle, Buttons::OK, Icon::None, e.what());
    }
    wb_.session.document = nullptr;
  }
  OperationScope(const OperationScope&) = delete;
  OperationScope& operator=(const OperationScope&) = delete;

 private:
  Workbench& wb_;
};

// Runs `body` inside an OperationScope with the operation's error trap: any
// failure shows `errorText` with the cause as detail and ends the operation.
template <class Body>
void runOperation(Workbench& wb, const char* errorText, Body&& body) {
  OperationScope scope(wb);
  try {
    body();
  } catch (const std::bad_alloc&) {
    wb.session.lastOutcome = Outcome::Failed;
    wb.message(errorText, kComponentTitle, Buttons::OK, Icon::None, kOutOfMemory);
  } catch (const std::exception& e) {
    wb.session.lastOutcome = Outcome::Failed;
    wb.message(errorText, kComponentTitle, Buttons::OK, Icon::None, e.what());
  }
}

// Ends an operation that the user cancelled (between items or in a chooser);
// a failure already reported on the way keeps its outcome.
inline void markCancelled(Workbench& wb) {
  if (wb.session.lastOutcome == Outcome::Completed) wb.session.lastOutcome = Outcome::Cancelled;
}
// Ends an operation refused for a missing prerequisite, with its warning.
inline void refuse(Workbench& wb, const std::string& text, const std::string& title) {
  wb.session.lastOutcome = Outcome::Refused;
  wb.message(text, title, Buttons::OK, Icon::Exclamation);
}

}  // namespace quilta
