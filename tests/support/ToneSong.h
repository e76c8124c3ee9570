#pragma once

// Small text files that describe a synthetic song, played by the TestDecoder, so engine tests can build
// libraries of "audio" files in a temporary folder without any codec. A file looks like
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

#include "platform/os/Paths.h"
#include "platform/os/Text.h"
#include "support/TestDecoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
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

// Plays the song a file describes; refuses anything else.
inline TestLibrary toneLibrary(std::shared_ptr<ToneStats> stats) {
    return [stats](const std::u16string& path) -> std::shared_ptr<TestStream> {
        std::ifstream in(os::toNativePath(path), std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        ToneSong song;
        if (!in || !parseToneSong(content.str(), song)) {
            return nullptr;
        }
        auto stream = std::make_shared<TestStream>();
        stream->chunkFrames = {4099};
        stream->madeFrames = static_cast<std::size_t>((song.lead + song.seconds) * 22050.0);
        const auto lead = static_cast<std::size_t>(song.lead * 22050.0);
        const auto skip = static_cast<std::size_t>(song.skip * 22050.0);
        stream->next = [synth = std::make_shared<ToneSynth>(song.seed), lead, skip, gain = song.gain,
                        i = std::size_t{0}]() mutable {
            const double v = i < lead ? 0.0 : synth->sample(i - lead + skip) * gain;
            ++i;
            return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 0.99997) * 32767.0));
        };
        stream->info.durationMs = static_cast<std::uint32_t>((song.lead + song.seconds) * 1000.0);
        const auto copy = [](const std::string& s, char16_t* field) {
            const std::u16string w = os::utf8ToUtf16(s).substr(0, TM_STREAM_TEXT_CHARS - 1);
            std::memcpy(field, w.data(), w.size() * sizeof(char16_t));
        };
        copy(song.title, stream->info.title);
        copy(song.artist, stream->info.artist);
        copy(song.album, stream->info.album);
        stats->decoded.fetch_add(1);
        return stream;
    };
}

inline std::unique_ptr<audio::AudioSource> makeToneSource(std::shared_ptr<ToneStats> stats) {
    return makeTestSource(toneLibrary(std::move(stats)), "tone");
}

} // namespace tonemirror::fakes
