#pragma once

// A decoder for small text files that describe a synthetic song, so engine tests can build libraries
// of "audio" files in a temporary folder without any codec. A file looks like
//
//   TONE
//   seed=3
//   seconds=40
//   lead=2        (seconds of silence before the music)
//   gain=0.5
//   skip=3        (seconds of the music left out at its start, as in a copy cut late)
//   title=Some title
//   artist=Someone
//   album=Something
//
// Songs with different seeds differ in melody, timbre and level course; the same seed gives the same
// music whatever the gain or lead. Anything not starting with "TONE" is refused.

#include "audio/AudioSource.h"
#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "plugin-api/PluginObject.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace tonemirror::fakes {

struct ToneSong {
    std::uint32_t seed = 1;
    double seconds = 30.0;
    double lead = 0.0;
    double gain = 1.0;
    double skip = 0.0;
    std::string title;
    std::string artist;
    std::string album;

    std::string text() const {
        std::ostringstream out;
        out << "TONE\nseed=" << seed << "\nseconds=" << seconds << "\nlead=" << lead << "\ngain=" << gain
            << "\nskip=" << skip << "\ntitle=" << title << "\nartist=" << artist << "\nalbum=" << album
            << "\n";
        return out.str();
    }
};

inline bool parseToneSong(const std::string& text, ToneSong& song) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "TONE") {
        return false;
    }
    while (std::getline(in, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos) {
            continue;
        }
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "seed") {
            song.seed = static_cast<std::uint32_t>(std::stoul(value));
        } else if (key == "seconds") {
            song.seconds = std::stod(value);
        } else if (key == "lead") {
            song.lead = std::stod(value);
        } else if (key == "gain") {
            song.gain = std::stod(value);
        } else if (key == "skip") {
            song.skip = std::stod(value);
        } else if (key == "title") {
            song.title = value;
        } else if (key == "artist") {
            song.artist = value;
        } else if (key == "album") {
            song.album = value;
        }
    }
    return true;
}

// Deterministic pseudo-music at 22050 Hz.
class ToneSynth {
public:
    explicit ToneSynth(std::uint32_t seed) : state_(seed * 2654435761u + 12345u) {
        const double scales[3][7] = {{0, 2, 4, 5, 7, 9, 11}, {0, 2, 3, 5, 7, 8, 10}, {0, 3, 5, 6, 7, 10, 12}};
        const int scale = static_cast<int>(next() % 3);
        const double root = 110.0 * std::pow(2.0, static_cast<double>(next() % 12) / 12.0);
        for (int i = 0; i < 64; ++i) {
            const int degree = static_cast<int>(next() % 7);
            const int octave = static_cast<int>(next() % 3);
            notes_.push_back(root * std::pow(2.0, (scales[scale][degree] + 12.0 * octave) / 12.0));
        }
        noteLength_ = 2205 * (2 + static_cast<int>(next() % 5));
        for (double& h : harmonics_) {
            h = 0.1 + static_cast<double>(next() % 100) / 100.0;
        }
        for (double& s : sectionLevels_) {
            s = 0.25 + static_cast<double>(next() % 75) / 100.0;
        }
        noiseLevel_ = static_cast<double>(next() % 30) / 100.0;
    }

    double sample(std::size_t i) {
        const std::size_t note = (i / static_cast<std::size_t>(noteLength_)) % notes_.size();
        const double t = static_cast<double>(i) / 22050.0;
        const double inNote = static_cast<double>(i % static_cast<std::size_t>(noteLength_)) / noteLength_;
        double v = 0.0;
        for (int h = 0; h < 4; ++h) {
            v += harmonics_[h] * std::sin(2.0 * M_PI * notes_[note] * (h + 1) * t) / (h + 1);
        }
        v *= std::exp(-3.0 * inNote);
        const std::size_t section = (i / (22050 * 5)) % 8;
        noise_ = noise_ * 1664525u + 1013904223u;
        const double n =
            (static_cast<double>(noise_ >> 8) / 16777216.0 - 0.5) * noiseLevel_ * (inNote < 0.05 ? 1.0 : 0.1);
        return (v * 0.3 + n) * sectionLevels_[section];
    }

private:
    std::uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }

    std::uint32_t state_;
    std::uint32_t noise_ = 7;
    std::vector<double> notes_;
    int noteLength_ = 4410;
    double harmonics_[4] = {};
    double sectionLevels_[8] = {};
    double noiseLevel_ = 0.0;
};

// Counts Open calls that succeeded, across all decoders of a test.
struct ToneStats {
    std::atomic<int> decoded{0};
};

class ToneDecoder {
public:
    explicit ToneDecoder(std::shared_ptr<ToneStats> stats) : stats_(std::move(stats)) {}

    HResult open(const char16_t* path) {
        if (path == nullptr) {
            return E_INVALIDARG;
        }
        close();
        std::ifstream in(os::toNativePath(path), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        ToneSong song;
        if (!in || !parseToneSong(content.str(), song)) {
            return E_FAIL;
        }
        song_ = song;
        synth_ = std::make_unique<ToneSynth>(song.seed);
        position_ = 0;
        total_ = static_cast<std::size_t>((song.lead + song.seconds) * 22050.0);
        lead_ = static_cast<std::size_t>(song.lead * 22050.0);
        skip_ = static_cast<std::size_t>(song.skip * 22050.0);
        open_ = true;
        stats_->decoded.fetch_add(1);
        return S_OK;
    }
    HResult close() {
        open_ = false;
        synth_.reset();
        return S_OK;
    }
    HResult read(const void** data, std::uint32_t* bytes) {
        if (data == nullptr || bytes == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        if (position_ >= total_) {
            return E_END_OF_STREAM;
        }
        const std::size_t n = std::min<std::size_t>(4099, total_ - position_);
        block_.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::size_t i = position_ + k;
            const double v = i < lead_ ? 0.0 : synth_->sample(i - lead_ + skip_) * song_.gain;
            block_[k] = static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 0.99997) * 32767.0));
        }
        position_ += n;
        *data = block_.data();
        *bytes = static_cast<std::uint32_t>(n * 2);
        return S_OK;
    }
    std::int32_t priority() { return 1; }
    HResult info(StreamInfo* out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        std::memset(out, 0, sizeof *out);
        out->durationMs = static_cast<std::uint32_t>((song_.lead + song_.seconds) * 1000.0);
        const auto copy = [](const std::string& s, char16_t* field) {
            const std::u16string w = os::utf8ToUtf16(s).substr(0, TM_STREAM_TEXT_CHARS - 1);
            std::memcpy(field, w.data(), w.size() * sizeof(char16_t));
        };
        copy(song_.title, out->title);
        copy(song_.artist, out->artist);
        copy(song_.album, out->album);
        return S_OK;
    }
    HResult format(StreamFormat* out) {
        if (out == nullptr) {
            return E_INVALIDARG;
        }
        if (!open_) {
            return E_FAIL;
        }
        *out = {1, 1, 22050};
        return S_OK;
    }

private:
    std::shared_ptr<ToneStats> stats_;
    ToneSong song_;
    std::unique_ptr<ToneSynth> synth_;
    bool open_ = false;
    std::size_t position_ = 0;
    std::size_t total_ = 0;
    std::size_t lead_ = 0;
    std::size_t skip_ = 0;
    std::vector<std::int16_t> block_;
};

inline std::unique_ptr<audio::AudioSource> makeToneSource(std::shared_ptr<ToneStats> stats) {
    void* object = nullptr;
    plugin::createObject<IDecoder, ToneDecoder>(&object, std::move(stats));
    std::vector<audio::AudioSource::Decoder> decoders;
    decoders.push_back({static_cast<IDecoder*>(object), "tone"});
    return std::make_unique<audio::AudioSource>(std::move(decoders));
}

} // namespace tonemirror::fakes
