// Public functions whose readers are not built yet: left unbound until they are.
#include "module/public_functions.hpp"

namespace kestrel::py {

const FunctionSpec kGetOpusDataFunction = {"getOpusData", nullptr, {"path", "datablock", nullptr}, nullptr, nullptr};

}  // namespace kestrel::py
