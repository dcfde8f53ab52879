// The similar-groups tally: counting the names of Xref lines, in the
// order first seen, within its bound.
#include "nntp/crosspost.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "nntp/newsstore.h"

namespace zorvex {
namespace {

using Names = std::vector<std::string>;

TEST(CrossPostTally, CountsInFirstSeenOrderAndMarksListedGroups) {
    TNewsStore store;
    store.AddGroup("Alt.Listed");
    TCrossPostTally tally;
    tally.CountCrossPosts("alt.listed: comp.x: ");
    tally.CountCrossPosts("comp.x: rec.y: ");
    tally.CountCrossPosts("");
    tally.CountCrossPosts(nullptr);
    tally.Count("rec.y");
    EXPECT_EQ(tally.CountOf("comp.x"), 2);
    EXPECT_EQ(tally.CountOf("nothing"), 0);
    EXPECT_EQ(tally.Lines(store), (Names{"*alt.listed: 1", "comp.x: 2", "rec.y: 2"}));

    tally.ClearCounts();
    EXPECT_EQ(tally.Lines(store), Names{});
    tally.Count("rec.y");
    EXPECT_EQ(tally.Lines(store), Names{"rec.y: 1"});
}

TEST(CrossPostTally, StaysBoundedWhateverTheHeadersSay) {
    TNewsStore store;
    TCrossPostTally tally;
    for (size_t i = 0; i < TALLY_NAMES_MAX + 100; ++i) tally.Count("g" + std::to_string(i));
    tally.Count(std::string(1000, 'z'));
    EXPECT_EQ(tally.Lines(store).size(), TALLY_NAMES_MAX);
    tally.Count("g0");
    EXPECT_EQ(tally.CountOf("g0"), 2);
    EXPECT_EQ(tally.CountOf("g" + std::to_string(TALLY_NAMES_MAX)), 0);
}

}  // namespace
}  // namespace zorvex
