#include "platform/os/Rename.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using tonemirror::os::renameNoReplace;

class RenameTest : public ::testing::Test {
protected:
    RenameTest() {
        std::string pattern = (fs::temp_directory_path() / "tm-rename-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            folder_ = pattern;
        }
    }
    ~RenameTest() override {
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }
    fs::path make(const char* name, const std::string& content) const {
        std::ofstream(folder_ / name, std::ios::binary) << content;
        return folder_ / name;
    }
    static std::string content(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    fs::path folder_;
};

TEST_F(RenameTest, MovesTheFileToAFreeName) {
    const fs::path from = make("a", "one");
    EXPECT_FALSE(renameNoReplace(from, folder_ / "b"));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(content(folder_ / "b"), "one");
}

TEST_F(RenameTest, ATakenNameLeavesBothFilesAsTheyWere) {
    const fs::path from = make("a", "one");
    const fs::path to = make("b", "two");
    EXPECT_EQ(renameNoReplace(from, to), std::errc::file_exists);
    EXPECT_EQ(content(from), "one");
    EXPECT_EQ(content(to), "two");
    EXPECT_EQ(renameNoReplace(from, from), std::errc::file_exists);
    EXPECT_EQ(content(from), "one");
    EXPECT_EQ(renameNoReplace(from, folder_), std::errc::file_exists); // a folder is taken too
    EXPECT_TRUE(renameNoReplace(folder_ / "missing", folder_ / "c"));
    EXPECT_FALSE(fs::exists(folder_ / "c"));
}

// Two renames racing for one name: exactly one wins, the other file keeps its name and content.
TEST_F(RenameTest, RacingRenamesNeverReplaceEachOther) {
    for (int round = 0; round < 200; ++round) {
        const fs::path first = make("first", "1");
        const fs::path second = make("second", "2");
        const fs::path target = folder_ / "target";
        std::atomic<bool> go{false};
        std::error_code results[2];
        std::thread other([&] {
            while (!go) {
            }
            results[1] = renameNoReplace(second, target);
        });
        go = true;
        results[0] = renameNoReplace(first, target);
        other.join();
        ASSERT_NE(!results[0], !results[1]) << "round " << round;
        const fs::path loser = results[0] ? first : second;
        EXPECT_EQ(content(target), results[0] ? "2" : "1");
        EXPECT_EQ(content(loser), results[0] ? "1" : "2");
        fs::remove(target);
        fs::remove(loser);
    }
}

} // namespace
