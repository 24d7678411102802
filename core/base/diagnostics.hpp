// Warnings and printed lines leave the core through this sink, never as errors.
// A sink returns false when the caller's side failed (a warning turned into an
// error, a closed stdout); the core then stops with Error::aborted().
#pragma once

#include <string_view>

namespace kestrel {

class Diagnostics {
 public:
  virtual ~Diagnostics() = default;
  [[nodiscard]] virtual bool runtime_warning(std::string_view message) = 0;
  [[nodiscard]] virtual bool print_line(std::string_view line) = 0;
};

// Swallows everything: for fuzzers and callers that do not care.
class NullDiagnostics final : public Diagnostics {
 public:
  bool runtime_warning(std::string_view) override { return true; }
  bool print_line(std::string_view) override { return true; }
};

}  // namespace kestrel
