// What every data block reader of getOpusData shares once the request is
// resolved: the open file, the selected blocks, the merged parameters and the
// common values every result carries.
#pragma once

#include "extract/selection.hpp"
#include "io/cursor.hpp"
#include "py/opened_file.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

struct ExtractContext {
  OpenedFile& file;
  Cursor& cursor;
  OpenedBlock& block;
  Ref dimension;   // the caller's strings, upper-cased
  Ref data_type;
  Ref deriv;
  Ref parameters;  // the merged parameter dict handed to the result
  Ref npt, fxv, lxv, mxy, mny;
  Ref abscissa;    // numpy.linspace(FXV, LXV, NPT)

  // dimension, dataType, deriv, x, minY, maxY and parameters as keywords.
  Ref common_keywords() const;
};

// A value of the parameter dict, or KeyError with the key.
Ref require_key(PyObject* parameters, const char* key);

// The 2D reader: a SingleDataReturn.
Ref read_single_spectrum(ExtractContext& context);

// The 3D readers: image maps, multi-region maps, time-resolved series.
Ref read_3d_block(ExtractContext& context);

}  // namespace kestrel::py
