// The picture cache: most recently used first, bitmaps dropped beyond the
// capacity and under memory pressure, records kept for reloading.
#include "image/piccache.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace zorvex {
namespace {

// Gives the record a bitmap, as a caller does after loading the picture.
void Fill(TPicture& picture) {
    picture.Bitmap = std::make_unique<TBitmap>();
    picture.Bitmap->Width = picture.Bitmap->Height = 1;
    picture.Bitmap->Pixels.assign(3, 7);
}

TEST(PicCacheTest, TheLeastRecentlyUsedLoseTheirBitmapsBeyondTheCapacity) {
    int load = 10;
    TPicCache cache(3, [&load] { return load; });
    for (const char* path : {"a", "b", "c"}) Fill(cache.Lookup(path));
    EXPECT_EQ(cache.NewEntries, 3u);

    // "a" is used again, so "b" is now the least recently used.
    TPicture& a = cache.Lookup("a");
    EXPECT_TRUE(a.Bitmap);
    EXPECT_EQ(cache.FoundInMemory, 1u);
    TPicture& d = cache.Lookup("d");
    EXPECT_EQ(d.Path, "d");
    EXPECT_FALSE(d.Bitmap);
    Fill(d);
    TPicture& b = cache.Lookup("b");
    EXPECT_FALSE(b.Bitmap) << "the least recently used keeps its bitmap";
    EXPECT_TRUE(b.Evicted);
    EXPECT_EQ(cache.FoundEvicted, 1u);
    // The same record comes back, ready to be loaded again.
    Fill(b);
    EXPECT_EQ(&cache.Lookup("b"), &b);
    EXPECT_EQ(cache.Size(), 4u);

    // Every lookup beyond the capacity drops one more bitmap, so no more
    // than the capacity are held once the caller has filled the new one.
    for (const char* path : {"e", "f", "g", "h", "a", "c"}) {
        Fill(cache.Lookup(path));
        EXPECT_EQ(cache.BitmapsHeld(), 3u) << path;
    }

    // Under memory pressure every bitmap but the front one goes.
    load = 90;
    TPicture& front = cache.Lookup("h");
    EXPECT_TRUE(front.Bitmap);
    EXPECT_EQ(cache.BitmapsHeld(), 1u);
    EXPECT_EQ(cache.Size(), 8u);
}

TEST(PicCacheTest, ReserveOnlyGrows) {
    TPicCache cache(5, [] { return 0; });
    cache.Reserve(20);
    EXPECT_EQ(cache.CapacityNow(), 30u);
    cache.Reserve(3);
    EXPECT_EQ(cache.CapacityNow(), 30u);
}

TEST(PicCacheTest, MemoryLoadIsAPercentage) {
    int load = SystemMemoryLoad();
    EXPECT_GE(load, 0);
    EXPECT_LE(load, 100);
}

}  // namespace
}  // namespace zorvex
