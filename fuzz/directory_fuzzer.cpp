#include "layers/layers.hpp"

KESTREL_FUZZ_TARGET(fuzz_directory_layer)
