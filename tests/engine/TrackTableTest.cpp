#include "engine/TrackTable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tonemirror::engine {
namespace {

analysis::TrackRecord recordWithId(std::int32_t id) {
    analysis::TrackRecord record;
    record.trackId = id;
    return record;
}

// Library paths share long beginnings and differ late, by case or by a single unit.
const std::vector<std::u16string> kPaths = {
    u"/music/Artist/Album (Deluxe)/01 Song.flac", u"/music/Artist/Album (Deluxe)/01 song.flac",
    u"/music/Artist/Album (Deluxe)/01 Song.flaC", u"/music/Artist/Album (Deluxe)/01 Song.fla",
    u"/music/Artist/Album (Deluxe)/10 Song.flac", u"/music/\u00c4rtist/\u00c9t\u00e9/01 \u266b.ogg",
};

TEST(TrackTable, FindsEveryPathAndOnlyThose) {
    TrackTable table;
    for (std::size_t i = 0; i < kPaths.size(); ++i) {
        ASSERT_TRUE(table.insert(kPaths[i], recordWithId(static_cast<std::int32_t>(i))));
    }
    for (std::size_t i = 0; i < kPaths.size(); ++i) {
        const std::u16string asked = kPaths[i]; // a copy: the table answers with its own
        const analysis::TrackRecord* found = table.find(asked);
        ASSERT_NE(found, nullptr) << i;
        EXPECT_EQ(found->trackId, static_cast<std::int32_t>(i));
        const std::u16string_view stored = table.storedPath(asked);
        EXPECT_EQ(stored, asked);
        EXPECT_NE(stored.data(), asked.data());
    }
    for (const std::u16string missing : {u"/music/Artist/Album (Deluxe)/01 Song.flac2", u"", u"/music"}) {
        EXPECT_EQ(table.find(missing), nullptr);
        EXPECT_TRUE(table.storedPath(missing).empty());
    }
    // Iteration keeps the order of code units.
    std::vector<std::u16string> inOrder;
    for (const auto& [path, record] : table) {
        inOrder.push_back(path);
    }
    EXPECT_TRUE(std::is_sorted(inOrder.begin(), inOrder.end()));
    EXPECT_EQ(inOrder.size(), kPaths.size());
}

TEST(TrackTable, AnEntryKeepsItsFirstRecordAndItsPlace) {
    TrackTable table;
    ASSERT_TRUE(table.insert(kPaths[0], recordWithId(1)));
    const analysis::TrackRecord* first = table.find(kPaths[0]);
    EXPECT_FALSE(table.insert(kPaths[0], recordWithId(2)));
    EXPECT_EQ(table.find(kPaths[0])->trackId, 1);
    for (std::size_t i = 1; i < 2000; ++i) { // enough to rehash the lookup several times
        table.insert(kPaths[0] + std::u16string(1, static_cast<char16_t>(i)), recordWithId(0));
    }
    EXPECT_TRUE(table.replace(kPaths[0], recordWithId(3)));
    EXPECT_EQ(table.find(kPaths[0]), first);
    EXPECT_EQ(first->trackId, 3);
    EXPECT_FALSE(table.replace(kPaths[1], recordWithId(4)));
    EXPECT_EQ(table.tracksKnown(), 2000);
}

TEST(TrackTable, ClearedTableFindsNothingAndTakesThePathsAgain) {
    TrackTable table;
    for (const std::u16string& path : kPaths) {
        table.insert(path, recordWithId(1));
    }
    table.clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.tracksKnown(), 0);
    for (const std::u16string& path : kPaths) {
        EXPECT_EQ(table.find(path), nullptr);
        EXPECT_TRUE(table.storedPath(path).empty());
    }
    ASSERT_TRUE(table.insert(kPaths[2], recordWithId(7)));
    ASSERT_NE(table.find(kPaths[2]), nullptr);
    EXPECT_EQ(table.find(kPaths[2])->trackId, 7);
    EXPECT_EQ(table.find(kPaths[0]), nullptr);
}

} // namespace
} // namespace tonemirror::engine
