#include "platform/os/WriteCopyName.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using tonemirror::os::isWriteCopyName;
using tonemirror::os::writeCopyPattern;

namespace {

std::string filled(std::string pattern) {
    pattern.replace(pattern.size() - 6, 6, "a9Z0bQ");
    return pattern;
}

// Every name the pattern makes is recognised and fits the 255-byte name limit, with a long name's
// kept part cut before a character, never inside it.
TEST(WriteCopyName, PatternsAreRecognisedAndFit) {
    const std::string names[] = {"song.mp3", ".hidden.flac", std::string(255, 'x'),
                                 std::string(199, 'a') + "\xC3\xA9" + std::string(54, 'b')};
    for (const std::string& name : names) {
        const std::string copy = filled(writeCopyPattern(name));
        EXPECT_TRUE(isWriteCopyName(copy)) << copy;
        EXPECT_LE(copy.size(), 255u);
        EXPECT_EQ(copy.compare(1, std::min<std::size_t>(name.size(), 199), name, 0,
                               std::min<std::size_t>(name.size(), 199)),
                  0);
    }
    EXPECT_EQ(writeCopyPattern(names[3]), "." + std::string(199, 'a') + ".tonemirror-XXXXXX");
}

TEST(WriteCopyName, OtherNamesAreNot) {
    for (const char* name :
         {"song.mp3", ".song.mp3", "song.mp3.tonemirror-a9Z0bQ", ".song.mp3.tonemirror-a9Z0b",
          ".song.mp3.tonemirror-a9Z0b!", ".song.tmp-a9Z0bQ.mp3", ".song.mp3.tonemirror-a9Z0bQ.mp3",
          ".tonemirror-a9Z0bQ"}) {
        EXPECT_FALSE(isWriteCopyName(name)) << name;
    }
}

} // namespace
