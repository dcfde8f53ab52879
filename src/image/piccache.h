// piccache: the pictures a window showed lately, most recently used first.
// Beyond the capacity (in bitmaps held), or while the machine runs short
// of memory, the least recently used lose their bitmaps; their records stay, so a caller
// that finds one without a bitmap loads the picture again into it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <string>
#include <unordered_map>

#include "image/picture.h"

namespace zorvex {

// Per cent of the machine's memory in use, from /proc/meminfo
// (MemAvailable against MemTotal); 0 when it cannot be read.
int SystemMemoryLoad();

constexpr int PICCACHE_MEMORY_LOAD_MAX = 85;

class TPicCache {
  public:
    explicit TPicCache(size_t capacity, std::function<int()> memoryLoad = SystemMemoryLoad)
        : Capacity(capacity), MemoryLoad(std::move(memoryLoad)) {}

    // The record for path, created empty when the path is new; it moves to
    // the front. The reference stays valid as long as the cache.
    TPicture& Lookup(const std::string& path);
    // For a list of count files: room for count + 10; never shrinks.
    void Reserve(size_t count);

    size_t Size() const { return Order.size(); }
    size_t BitmapsHeld() const;
    size_t CapacityNow() const { return Capacity; }
    // How lookups went: new paths, found with the bitmap, found without.
    uint64_t NewEntries = 0, FoundInMemory = 0, FoundEvicted = 0;

  private:
    // Drops the bitmap of the least recently used record that has one
    // (never the front); false when there is none.
    bool EvictBack();

    size_t Capacity;
    std::function<int()> MemoryLoad;
    std::list<TPicture> Order;  // front: most recently used
    std::unordered_map<std::string, std::list<TPicture>::iterator> Index;
};

}  // namespace zorvex
