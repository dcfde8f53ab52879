// A group table with its list and a settings file of its own, for the
// tests of the list and of the commands built on it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "library/fileio.h"
#include "library/profile.h"
#include "nntp/grouplist.h"
#include "support/tempdir.h"

namespace zorvex::test {

class TGroupListFixture : public ::testing::Test {
  protected:
    using Names = std::vector<std::string>;

    void WriteIni(const std::string& text) {
        std::string error;
        ASSERT_TRUE(ReplaceFileAtomically(Path, text, &error)) << error;
    }
    TProfile Saved() {
        TProfile p;
        EXPECT_TRUE(p.Load(Path));
        return p;
    }
    // Sets [grouplist] in the file and loads it into the table.
    void LoadList(const std::string& section) {
        WriteIni("[misc]\nxover=1\n\n[grouplist]\n" + section);
        List.Load(Saved());
    }
    Names TableNames() {
        Names names;
        for (int i = 0; i < Store.GroupCount(); ++i) names.emplace_back(Store.GetGroup(i)->Name);
        return names;
    }

    TNewsStore Store;
    TGroupList List{Store};
    TTempDir Dir;
    std::string Path = Dir.File("vantrel.ini");
};

}  // namespace zorvex::test
