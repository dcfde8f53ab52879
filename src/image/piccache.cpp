#include "image/piccache.h"

#include <cstdio>
#include <cstring>

namespace zorvex {

int SystemMemoryLoad() {
    FILE* f = std::fopen("/proc/meminfo", "re");
    if (!f) return 0;
    long long total = -1, available = -1;
    char line[256];
    while (std::fgets(line, sizeof line, f)) {
        long long kb;
        if (std::sscanf(line, "MemTotal: %lld kB", &kb) == 1) total = kb;
        if (std::sscanf(line, "MemAvailable: %lld kB", &kb) == 1) available = kb;
    }
    std::fclose(f);
    if (total <= 0 || available < 0 || available > total) return 0;
    return static_cast<int>((total - available) * 100 / total);
}

TPicture& TPicCache::Lookup(const std::string& path) {
    auto found = Index.find(path);
    if (found != Index.end()) {
        if (found->second->Bitmap)
            ++FoundInMemory;
        else
            ++FoundEvicted;
        Order.splice(Order.begin(), Order, found->second);
    } else {
        ++NewEntries;
        Order.emplace_front();
        Order.front().Path = path;
        Index.emplace(path, Order.begin());
    }
    // The records stay; only the bitmaps of those at the back go, so that
    // with the front one filled no more than the capacity are held.
    size_t others = BitmapsHeld() - (Order.front().Bitmap ? 1 : 0);
    while (others + 1 > Capacity && EvictBack()) --others;
    while (Order.size() > 2 && MemoryLoad() > PICCACHE_MEMORY_LOAD_MAX && EvictBack()) {
    }
    return Order.front();
}

bool TPicCache::EvictBack() {
    // The least recently used record that still holds a bitmap.
    for (auto it = Order.rbegin(); it != Order.rend(); ++it) {
        if (std::next(it) == Order.rend()) break;  // never the front
        if (!it->Bitmap) continue;
        it->Bitmap.reset();
        it->Evicted = true;
        return true;
    }
    return false;
}

size_t TPicCache::BitmapsHeld() const {
    size_t held = 0;
    for (const TPicture& p : Order) held += p.Bitmap ? 1 : 0;
    return held;
}

void TPicCache::Reserve(size_t count) {
    if (count + 10 > Capacity) Capacity = count + 10;
}

}  // namespace zorvex
