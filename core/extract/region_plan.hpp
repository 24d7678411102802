// Multi-region maps: the annotation table groups the points into regions,
// each with its own coordinates and spectra (or trace values).
#pragma once

#include "base/limits.hpp"
#include "extract/block_plan.hpp"
#include "extract/record_locator.hpp"
#include "io/cursor.hpp"

namespace kestrel {

// Plans the regions of a 3D block that has an annotation block and no grid.
//
// Regions are visited in the iteration order of a set of the region numbers
// (each the number of its first annotation row), and a region whose first row
// has a Type other than 0 is left out. A region of AryNX x AryNY points owns
// that many rows from its first one on; with no points and AryType 0 it is a
// free point list of as many rows as carry its number. All regions' rows are
// stacked in one result, in order. A spectra point takes the record of its
// file index (a row whose index names no stored record stays zero); a trace
// point takes every trace's value at its file index - 1.
//
// A region header that fails is reached after the rows of the regions before
// it (it fails at the end of the stacked rows); a row that fails stops the
// read at that row.
void plan_regions(Cursor& cursor, BlockPlan& plan, const RecordLocator& locator, const Limits& limits);

}  // namespace kestrel
