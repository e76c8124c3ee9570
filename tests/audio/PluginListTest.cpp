#include "audio/AudioSource.h"
#include "audio/PluginList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace tonemirror;

namespace {

class PluginListTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("tm-plugins-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    void copyPlugin(const char* name, const char* as) {
        fs::copy_file(fs::path(TEST_PLUGIN_DIR) / name, dir_ / as);
    }

    fs::path dir_;
};

TEST_F(PluginListTest, SkipsBogusLibrariesAndOnesWithoutEntryPoint) {
    std::ofstream(dir_ / "garbage.so") << "this is not a shared library";
    std::ofstream(dir_ / "empty.so");
    copyPlugin("fake_nosym_plugin.so", "nosym.so");
    copyPlugin("fake_good_plugin.so", "good.so");
    std::ofstream(dir_ / "good.so.txt") << "not matching the pattern";

    audio::PluginList plugins;
    ASSERT_EQ(plugins.loadAll(dir_), S_OK);
    ASSERT_EQ(plugins.entries().size(), 1u);
    EXPECT_EQ(plugins.entries()[0].name(), "good");

    // The loaded plug-in answers the contract's questions.
    GetInterfaceFn fn = plugins.entries()[0].getInterface;
    EXPECT_EQ(fn(kIidDecoder, nullptr), E_INVALIDARG);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(fn(kIidTagger, &object), E_NOINTERFACE);
    EXPECT_EQ(object, reinterpret_cast<void*>(0x1)) << "out untouched for an unknown interface";

    // And decodes through an AudioSource.
    audio::AudioSource source(plugins);
    ASSERT_EQ(source.decoderCount(), 1u);
    ASSERT_EQ(source.open(u"/any/file"), S_OK);
    EXPECT_EQ(source.currentPluginName(), "good");
    const float* samples = nullptr;
    std::uint32_t count = 0;
    ASSERT_EQ(source.read(&samples, &count), S_OK);
    EXPECT_EQ(count, 64u);
    EXPECT_EQ(source.read(&samples, &count), E_END_OF_STREAM);
    EXPECT_EQ(source.close(), S_OK);
}

TEST_F(PluginListTest, EmptyOrMissingFolderGivesEmptyList) {
    audio::PluginList plugins;
    EXPECT_EQ(plugins.loadAll(dir_), S_OK);
    EXPECT_TRUE(plugins.entries().empty());
    EXPECT_EQ(plugins.loadAll(dir_ / "missing"), S_OK);
    EXPECT_TRUE(plugins.entries().empty());

    // Without plug-ins nothing opens, and closing afterwards fails too.
    audio::AudioSource source(plugins);
    EXPECT_EQ(source.open(u"/some/file.wav"), E_FAIL);
    EXPECT_EQ(source.close(), E_FAIL);
}

TEST_F(PluginListTest, FreeAllEmptiesTheList) {
    copyPlugin("fake_good_plugin.so", "a.so");
    copyPlugin("fake_good_plugin.so", "b.so");
    audio::PluginList plugins;
    ASSERT_EQ(plugins.loadAll(dir_), S_OK);
    ASSERT_EQ(plugins.entries().size(), 2u);
    EXPECT_EQ(plugins.entries()[0].name(), "a");
    plugins.freeAll();
    EXPECT_TRUE(plugins.entries().empty());
}

} // namespace
