#include "images/param_block_cache.hpp"

#include "params/param_block.hpp"

namespace kestrel {

Result<std::shared_ptr<const ParamList>> ParamBlockCache::read(std::int64_t offset) {
  if (const auto it = blocks_.find(offset); it != blocks_.end()) return it->second;
  KESTREL_TRY(ParamList params, read_param_block(cursor_, offset));
  auto block = std::make_shared<const ParamList>(std::move(params));
  // Empty blocks count as one entry so that the map itself stays bounded too.
  const std::size_t cost = block->size() + 1;
  if (entries_ + cost <= max_entries_) {
    blocks_.emplace(offset, block);
    entries_ += cost;
  }
  return block;
}

}  // namespace kestrel
