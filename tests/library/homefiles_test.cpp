#include "library/homefiles.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

namespace zorvex {
namespace {

// Puts the process in a time zone 14 hours east of UTC, where the local
// date of the early hours differs from the UTC date.
class TFarEastZone {
  public:
    TFarEastZone() {
        const char* old = getenv("TZ");
        if (old) Old = old;
        setenv("TZ", "ZVX-14", 1);
        tzset();
    }
    ~TFarEastZone() {
        if (Old)
            setenv("TZ", Old->c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    std::optional<std::string> Old;
};

TEST(HomeFiles, HomeFileNamesUseTheLocalStartDate) {
    TFarEastZone zone;
    const struct {
        int Year, Month, Day, Hour;
        const char* Log;
    } dates[] = {{2024, 3, 7, 1, "/home/u/news0307.log"},
                 {2023, 12, 31, 23, "/home/u/news1231.log"},
                 {2025, 1, 1, 0, "/home/u/news0101.log"}};
    for (const auto& d : dates) {
        struct tm local {};
        local.tm_year = d.Year - 1900;
        local.tm_mon = d.Month - 1;
        local.tm_mday = d.Day;
        local.tm_hour = d.Hour;
        local.tm_isdst = -1;
        THomeFiles files = HomeFileNames("/home/u", mktime(&local));
        EXPECT_EQ(files.DailyLog, d.Log);
        EXPECT_EQ(files.Lockouts, "/home/u/lockout.lst");
        EXPECT_EQ(files.HttpGrabList, "/home/u/httpgrab.lst");
        EXPECT_EQ(files.HttpGrabPage, "/home/u/httpgrab.htm");
        EXPECT_EQ(files.DupeSubjects, "/home/u/dupesubj.lst");
        EXPECT_EQ(files.DupeFiles, "/home/u/dupefile.lst");
        EXPECT_EQ(files.Newsrc, "/home/u/newsrc.lst");
    }
}

}  // namespace
}  // namespace zorvex
