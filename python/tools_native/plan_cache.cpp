#include "tools_native/plan_cache.hpp"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace kestrel::py {

namespace {

// Longer than the coarsest common file clock (2 s on FAT).
constexpr std::int64_t kSettledNs = 3'000'000'000;

struct Kept {
  PlanKey key;
  std::shared_ptr<const BlockPlan> plan;
};

// Most recently used first. Calls hold the GIL when they get here, but fills
// run without it, so the list has a lock of its own; nothing Python runs under it.
std::mutex g_mutex;
std::vector<Kept> g_kept;

// A plan's tables need not be small: a store table or annotation table may list
// one entry per record, steps may carry one warning per row. Roughly what it holds.
std::size_t footprint(const BlockPlan& plan) {
  std::size_t bytes = sizeof(BlockPlan) + plan.table.store_table.size() * sizeof(StoreEntry) +
                      2 * plan.offsets.runs().size() * sizeof(NumberedRun) +
                      plan.points.size() * sizeof(RegionPoint) + plan.regions.size() * sizeof(RegionPlan);
  for (const PythonStep& step : plan.steps) bytes += sizeof(PythonStep) + step.text.size();
  for (const std::string& label : plan.labels) bytes += sizeof(std::string) + label.size();
  for (const AnnotationColumn& column : plan.annotations.columns) {
    for (const AnnotationCell& cell : column.cells) {
      bytes += sizeof(AnnotationCell);
      if (const auto* text = std::get_if<AnnotationText>(&cell)) bytes += sizeof(std::string) + text->str().size();
    }
  }
  return bytes;
}

}  // namespace

bool settled(const FileIdentity& file) {
  const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::system_clock::now().time_since_epoch());
  return now.count() - std::max(file.mtime_ns, file.ctime_ns) > kSettledNs;
}

std::shared_ptr<const BlockPlan> find_plan(const PlanKey& key) {
  std::lock_guard lock(g_mutex);
  for (std::size_t i = 0; i < g_kept.size(); ++i) {
    if (g_kept[i].key == key) {
      Kept found = std::move(g_kept[i]);
      g_kept.erase(g_kept.begin() + static_cast<std::ptrdiff_t>(i));
      g_kept.insert(g_kept.begin(), std::move(found));
      return g_kept.front().plan;
    }
  }
  return nullptr;
}

void keep_plan(const PlanKey& key, std::shared_ptr<const BlockPlan> plan) {
  if (footprint(*plan) > kMaxKeptPlanBytes) return;
  std::shared_ptr<const BlockPlan> dropped;  // released after the lock
  std::lock_guard lock(g_mutex);
  for (std::size_t i = 0; i < g_kept.size(); ++i) {
    if (g_kept[i].key == key) {
      dropped = std::move(g_kept[i].plan);
      g_kept.erase(g_kept.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  }
  if (g_kept.size() >= kKeptPlans) {
    dropped = std::move(g_kept.back().plan);
    g_kept.pop_back();
  }
  g_kept.insert(g_kept.begin(), Kept{key, std::move(plan)});
}

}  // namespace kestrel::py
