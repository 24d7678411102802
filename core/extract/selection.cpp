#include "extract/selection.hpp"

#include "params/param_block.hpp"

namespace kestrel {

BlockOffsets select_blocks(const Directory& directory, const Request& request) {
  BlockOffsets found;
  const auto sample_matches = [&](const BlockType& b) {
    return request.sample == -1 || b[SAMPLE_TYPE] == request.sample;
  };
  // Instrument and optics blocks: the request's own sample type, or a shared block (0)
  // for anything but a reference request.
  const auto shared_matches = [&](const BlockType& b) {
    return b[SAMPLE_TYPE] == request.sample || (b[SAMPLE_TYPE] == 0 && (request.sample == 1 || request.sample == -1));
  };
  for (const DirectoryEntry& entry : directory) {
    const BlockType& b = entry.type;
    const std::int64_t at = entry.byte_offset;
    const bool same_kind = b[DATA_TYPE] == request.data_code && b[EXTEND_TYPE] == request.extend && sample_matches(b);
    if (same_kind && b[DERIV_TYPE] == request.derivative) {
      if (b[PARAM_TYPE] == 0) {
        found.data = at;
      } else if (b[PARAM_TYPE] == 1) {
        found.params = at;
      }
    } else if (same_kind && b[DERIV_TYPE] == 0) {
      if (b[PARAM_TYPE] == 1) found.original_params = at;
    } else if (b[PARAM_TYPE] == 3) {
      found.acquisition = at;
    } else if (b[PARAM_TYPE] == 2) {
      if (shared_matches(b)) found.instrument = at;
    } else if (b[PARAM_TYPE] == 6) {
      if (shared_matches(b)) found.optics = at;
    } else if (b[PARAM_TYPE] == 10) {
      found.sample = at;
    } else if (b[PARAM_TYPE] == 4) {
      found.ft = at;
    } else if (b[EXTEND_TYPE] == kExtendAnnotation) {
      found.annotation = at;
    }
  }
  return found;
}

Result<OpenedBlock> open_block(Cursor& cursor, Request request) {
  KESTREL_TRY(const Directory directory, read_opus_directory(cursor));
  OpenedBlock block;
  block.offsets = select_blocks(directory, request);
  if (block.offsets.data == -1 || block.offsets.params == -1) {
    return Error::value("No data block exists in the file for: " + request.type + " " + request.dimensions + " " +
                        request.deriv);
  }
  // Later blocks update the data block's parameters: read straight into them.
  const BlockOffsets& o = block.offsets;
  for (const std::int64_t offset : {o.params, o.acquisition, o.instrument, o.optics, o.sample, o.ft}) {
    if (offset == -1) continue;
    KESTREL_CHECK(read_param_block_into(cursor, offset, block.parameters));
  }
  block.request = std::move(request);
  return block;
}

}  // namespace kestrel
