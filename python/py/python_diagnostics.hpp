// The core's warnings and printed lines, delivered through Python: warnings.warn
// with RuntimeWarning, and the builtin print (so they land wherever sys.stdout
// and the warning filters send them). A failure there (a warning turned into
// an error, a closed stdout) leaves its exception set and stops the core.
#pragma once

#include "base/diagnostics.hpp"
#include "py/python_api.hpp"

namespace kestrel::py {

class PythonDiagnostics final : public Diagnostics {
 public:
  bool runtime_warning(std::string_view message) override;
  bool print_line(std::string_view line) override;
};

}  // namespace kestrel::py
