// The layers a harness can drive. Each takes the fuzz input as a whole file.
#pragma once

#include "common/harness.hpp"

namespace kestrel::fuzz {

void fuzz_directory_layer(FuzzFile& file);
void fuzz_params_layer(FuzzFile& file);
void fuzz_text_layer(FuzzFile& file);
void fuzz_images_layer(FuzzFile& file);
void fuzz_extract_layer(FuzzFile& file);

// Every layer in turn, for long runs over all entry points at once.
inline void fuzz_every_layer(FuzzFile& file) {
  fuzz_directory_layer(file);
  fuzz_params_layer(file);
  fuzz_text_layer(file);
  fuzz_images_layer(file);
  fuzz_extract_layer(file);
}

}  // namespace kestrel::fuzz
