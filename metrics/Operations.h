#pragma once
// The operations of the tool window. Each runs on the layer selected in the
// map, reports through message boxes, attribute fields and result windows,
// and records how it ended in the session's lastOutcome.

namespace quilta {

class Extension;

namespace mod_Quilta_Kartova {

// Writes "Area" and "Perimeter" (double, map units) into every feature.
void RunAreaPerimeter(Extension& ext);

}  // namespace mod_Quilta_Kartova
}  // namespace quilta
