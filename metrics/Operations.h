#pragma once
// The operations of the tool window. Each runs on the layer selected in the
// map, reports through message boxes, attribute fields and result windows,
// and records how it ended in the session's lastOutcome.

namespace quilta {

class Extension;

namespace mod_Quilta_Kartova {

// Writes "Area" and "Perimeter" (double, map units) into every feature.
void RunAreaPerimeter(Extension& ext);

// Class- and landscape-level statistics. Each needs "Area" (and, but for
// diversity and subdivision, "Perimeter"), asks for the classes, fills its
// result window with one row per selected class and shows it. A class without
// patches or an area sum that leaves a value undefined fails the run.

// Patches, class area, mean patch size and its standard deviation (frmArea).
void RunAreaAnalysis(Extension& ext);
// Total edge and mean patch edge per class; total edge, edge density and mean
// patch edge of the landscape (frmEdges).
void RunEdgeAnalysis(Extension& ext);
// Writes "Paratio", "Shape_Idx" and "Frac_Dim" (rounded to three decimals)
// into every patch of the selected classes and shows their means (frmForm).
void RunFormAnalysis(Extension& ext);
// Shrinks every patch of the selected classes inward by a distance the user
// enters (map units; negative widens), writes the cores into a new polygon
// shapefile chosen in a save dialog ("Orig_ID": the patch's FID, "Core_Area":
// the area of the record's shape; one record per patch, one per piece of a
// core that falls apart), adds it to the map and shows the core area, core
// area index and Cority per class and landscape (frmCoreArea). Refuses to
// replace a layer of the map.
void RunCoreAreaAnalysis(Extension& ext);
// Class shares, richness, Shannon's diversity and evenness and dominance
// against a potential richness the user enters (frmDiversity).
void RunDiversityAnalysis(Extension& ext);
// Division index, splitting index and effective mesh size of every class,
// each class taken as a landscape of its own (frmDivision).
void RunSubdivisionAnalysis(Extension& ext);

}  // namespace mod_Quilta_Kartova
}  // namespace quilta
