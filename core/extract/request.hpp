// A getOpusData request: the triple a listing reports, checked and resolved
// against the name tables.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/result.hpp"

namespace kestrel {

struct Request {
  std::string type;        // dataBlockType, upper-cased
  std::string dimensions;  // "2D" or "3D"
  std::string deriv;       // "NONE", "1DER", "2DER", "NDER"
  int data_code = 0;       // dataType the block must have
  int sample = -1;         // sampleType it must have: 1 sample, 2 reference, -1 either
  int derivative = 0;      // derivType
  int extend = 0;          // extendType: 0 for 2D, 10 for 3D
  bool is_3d() const { return extend != 0; }
};

// Checks dimensions, then type, then derivative, each with its message. The
// strings must already be upper-cased (str.upper() of the caller's items).
Result<Request> check_request(std::string type, std::string dimensions, std::string deriv);

// The fixed texts before and after the caller's value in the three request errors,
// for a caller that joins them with values of its own kind.
struct MessageFrame {
  std::string_view before;
  std::string_view after;
};
extern const MessageFrame kBadDimensionsMessage;
extern const MessageFrame kBadTypeMessage;
extern const MessageFrame kBadDerivMessage;

// Every data block type name a request accepts: the base names, then their second channels.
std::vector<std::string> request_type_names();

}  // namespace kestrel
