#include "layers/layers.hpp"

KESTREL_FUZZ_TARGET(fuzz_extract_layer)
