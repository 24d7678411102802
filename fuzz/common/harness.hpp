// What every harness shares: the input as an in-memory file, the lowered caps,
// the choice bytes, and the checks that a core call failed only through its
// error value.
//
// A harness is one file, <layer>_fuzzer.cpp, that names a layer function:
//
//   #include "common/harness.hpp"
//   KESTREL_FUZZ_TARGET(fuzz_directory_layer)
//
// Layer functions live in layers/ and take a FuzzFile. The same harness file
// builds as a libFuzzer target (clang) and, with common/replay_main.cpp, as a
// plain program that replays files (any compiler).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string_view>

#include "base/diagnostics.hpp"
#include "base/limits.hpp"
#include "base/result.hpp"
#include "io/cursor.hpp"
#include "io/memory_source.hpp"

namespace kestrel::fuzz {

// Far below the defaults, so a crafted count that slips past a cap shows up as
// a finding under -malloc_limit_mb instead of passing unnoticed.
const Limits& fuzz_limits();

// Stops the run with a message: libFuzzer saves the input as a crash.
[[noreturn]] void fail(std::string_view what, std::string_view detail = {});

#define KESTREL_FUZZ_EXPECT(cond, detail) \
  do {                                    \
    if (!(cond)) ::kestrel::fuzz::fail(#cond, detail); \
  } while (0)

// The header fields at bytes 4-11 (versionNumber) and 16-19 (maxDirSize) are
// read by no reader, so a harness may take its choices from them without
// changing what the file means: the same corpus serves every harness, and the
// fuzzer steers a harness by mutating those bytes. Bytes past the end read as 0.
class Choices {
 public:
  explicit Choices(std::span<const std::byte> file);
  // The i-th choice byte (0 <= i < 12), wrapping around.
  std::uint8_t byte(std::size_t i) const { return bytes_[i % sizeof(bytes_)]; }
  // A little-endian word made of the choice bytes from i on.
  std::uint32_t word(std::size_t i) const;

 private:
  std::uint8_t bytes_[12] = {};
};

// The fuzz input seen as a file.
class FuzzFile {
 public:
  explicit FuzzFile(std::span<const std::byte> bytes) : bytes_(bytes), source_(bytes), choices_(bytes) {}

  const ByteSource& source() const { return source_; }
  std::span<const std::byte> bytes() const { return bytes_; }
  std::int64_t size() const { return static_cast<std::int64_t>(bytes_.size()); }
  const Choices& choices() const { return choices_; }
  // A fresh position at 0, as each public function opens the file anew.
  Cursor open() const { return Cursor(source_); }
  Diagnostics& diagnostics() { return diagnostics_; }

 private:
  std::span<const std::byte> bytes_;
  MemorySource source_;
  Choices choices_;
  NullDiagnostics diagnostics_;
};

// An error value must be one the binding can turn into a Python exception with
// the right payload. `aborted` never comes from a core that reported through a
// NullDiagnostics sink, which never fails.
void check_error(const Error& error);

// For a Result: either a value, or an error that passes check_error. Returns
// whether it holds a value.
template <typename T>
bool check(const Result<T>& result) {
  if (result) return true;
  check_error(result.error());
  return false;
}

// Two runs of the same call over the same bytes agree: the core keeps no state.
void check_same_error(const Error& a, const Error& b);

// Upper bound on entries a layer visits per input, so one input stays a
// millisecond job whatever its directory claims.
inline constexpr std::size_t kMaxVisits = 64;

}  // namespace kestrel::fuzz

#define KESTREL_FUZZ_TARGET(layer)                                                   \
  namespace kestrel::fuzz {                                                          \
  void layer(FuzzFile& file);                                                        \
  }                                                                                  \
  extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) { \
    ::kestrel::fuzz::FuzzFile file(                                                  \
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), size)); \
    ::kestrel::fuzz::layer(file);                                                    \
    return 0;                                                                        \
  }
