#include "audio/SampleConverter.h"

#include <gtest/gtest.h>

TEST(SampleConverter, Placeholder) {
    tonemirror::audio::SampleConverter c;
    EXPECT_EQ(c.prepare({1, 2, 44100}), tonemirror::S_OK);
}
