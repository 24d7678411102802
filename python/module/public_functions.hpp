// The specs of the public functions, one per file that implements them.
#pragma once

#include "module/function_type.hpp"

namespace kestrel::py {

extern const FunctionSpec kHelpFunction;
extern const FunctionSpec kListContentsFunction;
extern const FunctionSpec kIsOpusFileFunction;
extern const FunctionSpec kDecodeStringFunction;
extern const FunctionSpec kGetOpusDataFunction;
extern const FunctionSpec kImghdrWhatFunction;
extern const FunctionSpec kGetVisImagesFunction;
extern const FunctionSpec kOpusDictFunction;

// paramDict: the display-name table as a new dict.
Ref make_param_dict();

}  // namespace kestrel::py
