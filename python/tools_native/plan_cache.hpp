// Plans kept between calls of plan() and read_window(): a chunked read asks for
// many windows of one block, and planning a large map (its store table, where
// each record lies, its annotations) costs far more than a small window's fill.
//
// A plan is kept under the path as given, the block triple and the identity of
// the opened file (device, file number, size, modification and change times),
// so a file rewritten or replaced is planned again. Only plans of
// regular files that planned without an error before anything could be read
// are kept; what a call raises is always produced as an uncached call does it.
// A file modified within the last few seconds is not kept: a rewrite within
// one tick of a coarse file clock could keep size and times unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "extract/block_plan.hpp"
#include "io/input_file.hpp"

namespace kestrel::py {

struct PlanKey {
  std::string path;                  // 's' or 'b' (str or bytes), then the path's bytes
  std::array<std::string, 3> block;  // upper-cased
  FileIdentity file;
  bool operator==(const PlanKey&) const = default;
};

// Plans kept at most, and the most one may hold (a rough count of its tables):
// at most 8 x 16 MiB stay alive between calls. Plans hold record offsets as runs,
// not per record, so a map's plan takes a few kilobytes; only tables that list
// every record (a store table of single runs, annotations, multi-region points)
// grow with the file, and plans larger than the bound are not kept.
inline constexpr std::size_t kKeptPlans = 8;
inline constexpr std::size_t kMaxKeptPlanBytes = std::size_t{16} << 20;

// Whether the file was last changed long enough ago to keep its plan.
bool settled(const FileIdentity& file);

// The kept plan for key, made most recently used; null when none is kept.
std::shared_ptr<const BlockPlan> find_plan(const PlanKey& key);

// Keeps plan under key, dropping the least recently used beyond kKeptPlans.
void keep_plan(const PlanKey& key, std::shared_ptr<const BlockPlan> plan);

}  // namespace kestrel::py
