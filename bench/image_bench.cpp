// Thumbnails per second: a directory of 100 JPEG photos (3000 x 2000)
// reduced to 1/8 inside the decompressor, as the index window and the
// catalog pages load them, and 20 GIF and 20 BMP pictures (1500 x 1000)
// through the row readers. The pictures are made once, in a temporary
// directory, with smooth shapes and grain so they compress like photos.
// Catalog pages per second: that directory as 5 x 5 contact sheets.
#include <benchmark/benchmark.h>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "image/catalog.h"
#include "image/loader.h"
#include "support/picture_files.h"

namespace {

using namespace zorvex;
using namespace zorvex::test;
namespace fs = std::filesystem;

struct TPictures {
    fs::path Dir;
    std::vector<std::string> Jpegs, Gifs, Bmps;
    TPictures() {
        Dir = fs::temp_directory_path() / ("zorvex-image-bench-" + std::to_string(::getpid()));
        fs::create_directories(Dir);
        for (int i = 0; i < 100; ++i) {
            Jpegs.push_back((Dir / ("photo" + std::to_string(i) + ".jpg")).string());
            WriteJpeg(Jpegs.back(), 3000, 2000, Photo(3000, 2000, static_cast<uint32_t>(i)));
        }
        for (int i = 0; i < 20; ++i) {
            std::vector<uint8_t> rgb = Photo(1500, 1000, static_cast<uint32_t>(100 + i));
            Gifs.push_back((Dir / ("picture" + std::to_string(i) + ".gif")).string());
            WriteGif(Gifs.back(), 1500, 1000, rgb);
            Bmps.push_back((Dir / ("picture" + std::to_string(i) + ".bmp")).string());
            WriteBmp(Bmps.back(), 1500, 1000, rgb);
        }
    }
    ~TPictures() { fs::remove_all(Dir); }
};

TPictures& Pictures() {
    static TPictures pictures;
    return pictures;
}

void Thumbnails(benchmark::State& bench, const std::vector<std::string>& files, int box) {
    for (auto _ : bench) {
        for (const std::string& file : files) {
            TPicture picture;
            int code = LoadPictureNow(file, box, box, LOAD_REDUCE, "",
                                      TPlainPicturesOnly::Instance(), picture);
            if (code != PIC_OK) {
                bench.SkipWithError(("cannot load " + file).c_str());
                return;
            }
            benchmark::DoNotOptimize(picture.Bitmap->Pixels.data());
        }
    }
    bench.SetItemsProcessed(static_cast<int64_t>(bench.iterations() * files.size()));
}

// A 400-pixel box takes the 3000 x 2000 photos to 1/8 (375 x 250).
void BM_JpegThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Jpegs, 400);
}
void BM_GifThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Gifs, 200);
}
void BM_BmpThumbnails(benchmark::State& bench) {
    Thumbnails(bench, Pictures().Bmps, 200);
}

// All 140 pictures on 1024 x 768 pages of 25 cells: 6 pages each time.
void BM_CatalogPages(benchmark::State& bench) {
    const fs::path out = Pictures().Dir / "pages";
    fs::create_directories(out);
    std::vector<TCatalogPicture> pictures = ListCatalogPictures(Pictures().Dir.string());
    TCatalogOwner owner;
    int64_t pages = 0;
    for (auto _ : bench) {
        TCatalog catalog(TCatalogSettings{}, pictures, out.string() + "/", 1, owner,
                         TPlainPicturesOnly::Instance(), "", 0);
        while (catalog.Step()) {
        }
        if (catalog.PagesWritten().size() != 6) {
            bench.SkipWithError("pages missing");
            return;
        }
        pages += 6;
    }
    bench.SetItemsProcessed(pages);
    bench.counters["cells/s"] =
        benchmark::Counter(static_cast<double>(pages * 25), benchmark::Counter::kIsRate);
}

BENCHMARK(BM_JpegThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_GifThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_BmpThumbnails)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_CatalogPages)->Unit(benchmark::kMillisecond)->MinTime(3.0);

}  // namespace
