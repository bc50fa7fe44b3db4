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

// Patch-level neighbourhood metrics. Each writes double fields into the
// patches of the selected classes (a missing field is created and preset to
// -999 on every feature), compares a patch only with patches of its own class,
// and measures the shortest distance between polygons (map units).

// "NNDist", "NNId", "NN_Area": distance to, identifier of and area of the
// nearest other patch of the class (ties: the lowest identifier). A patch
// without one gets NNId 0 and -999 in the other two; a class of one patch is
// reported in a message.
void RunNearestNeighbourAnalysis(Extension& ext);
// The three proximity indices ask for a buffer distance (default: the larger
// side of the layer's extent, rounded half to even) and a field suffix of at
// most 5 characters (default: the buffer as typed). An empty buffer answer
// ends the run quietly; one that is not a number fails it.
// "PX92_" + suffix: NN_Area / NNDist when 0 < NNDist <= buffer, else 0.
// Refused without the nearest-neighbour fields ("No NN").
void RunProximityPX92(Extension& ext);
// "PX94_" + suffix: sum of Area / NNDist over the patches of the class within
// the buffer distance (the patch itself included) whose NNDist is above 0.
// Refused without the nearest-neighbour fields ("No NN") or "Area".
void RunProximityPX94(Extension& ext);
// "PXfg_" + suffix: sum of area / distance^2 over the other patches of the
// class within the buffer distance (touching ones add 0); class and landscape
// means in frmProximity.
void RunProximityFragstats(Extension& ext);

}  // namespace mod_Quilta_Kartova

namespace Dissolve_ID {

// After a confirmation, rebuilds "DissolveID" (double): 1, 2, 3, ... for the
// groups of touching or overlapping patches of each selected class, numbered
// through the run in class order and, within a class, by the group's first
// patch; 0 for patches of other classes.
void RunDissolveID(Extension& ext);

}  // namespace Dissolve_ID
}  // namespace quilta
