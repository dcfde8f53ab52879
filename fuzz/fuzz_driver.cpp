// Any bytes as the body lines of up to eight articles of one poster, one
// line per '\n'; a line holding only "\x01" ends an article and starts the
// next. The first byte picks the settings: bits 0-1 the directory scheme,
// bit 2 lower-case names, bit 3 renaming, bit 4 deleting incomplete files,
// bit 5 enciphering, bits 6-7 one of four group names, some hostile.
// Whatever the lines say, every file must land inside the download
// directory: after each run the scratch root may hold nothing but it.
#include <dirent.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "decode/driver.h"
#include "support/driver_reports.h"

namespace {

using namespace zorvex;

const std::string& Root() {
    static const std::string root = [] {
        char pattern[] = "/tmp/zorvex-fuzz-driver-XXXXXX";
        if (!mkdtemp(pattern)) abort();
        return std::string(pattern);
    }();
    return root;
}

// Only the download directory may appear beside where the run started.
void CheckRootAndClean() {
    DIR* dir = opendir(Root().c_str());
    if (!dir) abort();
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name != "." && name != ".." && name != "dl") __builtin_trap();
    }
    closedir(dir);
    nftw((Root() + "/dl").c_str(),
         [](const char* path, const struct stat*, int, struct FTW*) { return remove(path); }, 16,
         FTW_DEPTH | FTW_PHYS);
}

const char* const GROUPS[] = {"alt.binaries.test", "..", "a..b.../..", "alt.binaries"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t flags = data[0];
    TDriverOptions options;
    options.DownloadPath = Root() + "/dl";
    options.PathExpand = flags & 3;
    options.CaseConvert = (flags >> 2) & 1;
    options.RenameDupes = (flags >> 3) & 1;
    options.DeleteIncomplete = (flags >> 4) & 1;
    options.EncryptionEnable = (flags >> 5) & 1;
    options.EncryptionKey = "key";
    options.PathPrefixes = {"alt", "alt.binaries", ""};
    // Every line the driver formats is formatted, though none is kept.
    options.ViewerEnable = true;
    options.NoDataThresh = 512;
    options.LogMime = options.LogSubject = options.LogName = true;

    test::TSilentReport report;
    TArticleDriver driver(report, TAcceptEverything::Instance());
    driver.SetOptions(options);
    TNewsStore news;
    TNewsGroup* group = news.AddGroup(GROUPS[flags >> 6]);
    THeader* headers[8];
    for (int i = 0; i < 8; ++i) {
        headers[i] = news.FindOrAddHeader(group, i + 1);
        headers[i]->Subject = news.Intern("file.jpg (1/8)");
        headers[i]->Poster = news.Intern("p@x");
        if (i > 0) headers[i - 1]->PosterNext = headers[i];
    }

    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    int article = 0, received = 0;
    driver.ArticleStart(group, headers[0], "<1@x>");
    driver.HeaderEnd();
    while (!rest.empty()) {
        size_t end = rest.find('\n');
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        if (line == "\x01") {
            driver.ArticleEnd();
            if (++article == 8) break;
            driver.ArticleStart(group, headers[article], "<n@x>");
            driver.HeaderEnd();
            received = 0;
            continue;
        }
        driver.BodyLine(line, ++received);
    }
    if (article < 8) driver.ArticleEnd();
    driver.AbortCurrentFile();
    CheckRootAndClean();
    return 0;
}
