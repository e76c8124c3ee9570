#pragma once

// Audio files made at test time with the ffmpeg tool, and helpers to decode them through the
// plug-ins in the test's own folder.

#include "audio/AudioSource.h"
#include "audio/PluginList.h"
#include "platform/os/Paths.h"

#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern char** environ;

namespace mediafiles {

namespace fs = std::filesystem;

// A fresh folder removed with everything in it at the end of the test.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "tm-mediacodec-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) {
            ADD_FAILURE() << "mkdtemp failed";
        }
        path_ = pattern;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return path_; }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Runs a program with arguments (no shell); true when it exits with 0.
inline bool run(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) {
        return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct Tone {
    int frequency = 1000;
    int rate = 44100;
    int channels = 2;
    double seconds = 2.0;
};

// Encodes a sine tone with the given output arguments (codec and container options) into `file`.
inline bool makeTone(const fs::path& file, const std::vector<std::string>& outputArgs,
                     const Tone& tone = {}) {
    std::vector<std::string> args = {"ffmpeg",
                                     "-nostdin",
                                     "-v",
                                     "error",
                                     "-y",
                                     "-f",
                                     "lavfi",
                                     "-i",
                                     "sine=frequency=" + std::to_string(tone.frequency) +
                                         ":sample_rate=" + std::to_string(tone.rate) +
                                         ":duration=" + std::to_string(tone.seconds)};
    args.insert(args.end(), {"-ac", std::to_string(tone.channels)});
    args.insert(args.end(), outputArgs.begin(), outputArgs.end());
    args.push_back(file.string());
    return run(args);
}

inline std::vector<unsigned char> readBytes(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const fs::path& file, const std::vector<unsigned char>& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The plug-ins built beside the test executable.
inline const tonemirror::audio::PluginList& plugins() {
    static tonemirror::audio::PluginList list;
    static const bool loaded = tonemirror::succeeded(list.loadAll(tonemirror::os::programFolder()));
    EXPECT_TRUE(loaded);
    return list;
}

struct Decoded {
    bool opened = false;
    std::string plugin;
    StreamFormat format{};
    std::vector<float> samples;
    tonemirror::HResult end = tonemirror::S_OK;
};

// Everything an AudioSource yields for the file (mono, 22050 Hz).
inline Decoded decodeAll(tonemirror::audio::AudioSource& source, const fs::path& file) {
    Decoded d;
    d.opened = tonemirror::succeeded(source.open(tonemirror::os::fromNativePath(file)));
    if (!d.opened) {
        return d;
    }
    d.plugin = source.currentPluginName();
    d.format = source.format();
    const float* block = nullptr;
    std::uint32_t count = 0;
    while (tonemirror::succeeded(d.end = source.read(&block, &count))) {
        d.samples.insert(d.samples.end(), block, block + count);
    }
    source.close();
    return d;
}

// Frequency of a steady tone at 22050 Hz, from upward zero crossings over the middle half.
inline double toneFrequency(const std::vector<float>& samples) {
    const std::size_t from = samples.size() / 4;
    const std::size_t to = samples.size() * 3 / 4;
    std::size_t crossings = 0;
    std::size_t first = 0;
    std::size_t last = 0;
    for (std::size_t i = from + 1; i < to; ++i) {
        if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
            if (crossings == 0) {
                first = i;
            }
            last = i;
            ++crossings;
        }
    }
    if (crossings < 2) {
        return 0.0;
    }
    return static_cast<double>(crossings - 1) * 22050.0 / static_cast<double>(last - first);
}

inline float peak(const std::vector<float>& samples) {
    float p = 0.0f;
    for (float s : samples) {
        p = std::max(p, std::fabs(s));
    }
    return p;
}

// The names in a folder, sorted: what a tag write left behind beside its file.
inline std::vector<std::string> folderEntries(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) {
        names.push_back(e.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace mediafiles
