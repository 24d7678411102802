// getOpusData's result object for a planned read: the arrays of the planned
// shapes, filled without the GIL, in the result class of the block's kind.
#pragma once

#include "extract/block_plan.hpp"
#include "py/ref.hpp"

namespace kestrel::py {

struct RequestStrings {
  Ref dimension;  // the caller's strings, upper-cased
  Ref data_type;
  Ref deriv;
};

Ref read_block_result(const ByteSource& source, const BlockPlan& plan, const RequestStrings& request);

}  // namespace kestrel::py
