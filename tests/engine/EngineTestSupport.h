#pragma once

#include "analysis/TrackRecord.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include <unistd.h>

namespace tonemirror::engine::test {

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tm-engine-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const char* name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A record whose every field depends on `seed`, so records are told apart after a round trip.
inline analysis::TrackRecord makeRecord(unsigned seed, std::u16string name = u"name") {
    analysis::TrackRecord r;
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> d(-1.0f, 1.0f);
    for (auto& v : r.levelProfile) {
        v = d(rng);
    }
    for (auto& v : r.sectionCorrelations) {
        v = d(rng);
    }
    for (auto& v : r.meanSpectrum) {
        v = d(rng);
    }
    r.trackId = static_cast<std::int32_t>(seed);
    r.nameText = std::move(name);
    r.titleText = u"title " + std::u16string(1, static_cast<char16_t>(u'a' + seed % 26));
    r.artistText = u"artist \u00e9\u4e2d";
    r.albumText = u"";
    return r;
}

inline bool sameContent(const analysis::TrackRecord& a, const analysis::TrackRecord& b) {
    return a.levelProfile == b.levelProfile && a.sectionCorrelations == b.sectionCorrelations &&
           a.meanSpectrum == b.meanSpectrum && a.nameText == b.nameText && a.titleText == b.titleText &&
           a.artistText == b.artistText && a.albumText == b.albumText;
}

inline std::vector<std::byte> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::byte> out(chars.size());
    for (std::size_t i = 0; i < chars.size(); ++i) {
        out[i] = static_cast<std::byte>(chars[i]);
    }
    return out;
}

inline void writeFile(const std::filesystem::path& path, const std::vector<std::byte>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

} // namespace tonemirror::engine::test
