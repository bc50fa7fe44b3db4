#pragma once
// The attribute fields each operation writes into the analysed layer, so that
// a class field that an operation would overwrite is refused before the
// operation writes anything.

#include <string>
#include <vector>

namespace quilta {

class Workbench;

// The fields the operation behind the tool window button `button` writes
// (letter case as the operation creates them). The proximity indices write
// their prefix followed by `proximitySuffix`; with an empty suffix they are
// left out, the suffix being asked for only when the operation runs. An
// operation that writes nothing into the layer gives none.
std::vector<std::string> fieldsWrittenBy(const std::string& button, const std::string& proximitySuffix = {});

// The operation's name as the tool window shows it (its button's caption,
// trimmed), for messages.
std::string operationCaption(Workbench& wb, const std::string& button);

// When the session's class field is one of `written` (letter case ignored, as
// field names are compared), refuses the operation with "The class field ...
// would be overwritten by ..." naming `operation`, and gives true.
bool refuseClassFieldWritten(Workbench& wb, const std::vector<std::string>& written, const std::string& operation);

// The refusal's text.
std::string classFieldOverwrittenText(const std::string& field, const std::string& operation);

}  // namespace quilta
