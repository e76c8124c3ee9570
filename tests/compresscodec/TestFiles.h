#pragma once

// Builders for the small audio files the compresscodec tests feed to the decoder.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testfiles {

using Bytes = std::vector<std::uint8_t>;

inline void le16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void le32(Bytes& b, std::uint32_t v) {
    le16(b, v & 0xFFFF);
    le16(b, v >> 16);
}
inline void append(Bytes& b, const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
}
inline void append(Bytes& b, const Bytes& more) {
    b.insert(b.end(), more.begin(), more.end());
}

inline Bytes chunk(const std::string& id, const Bytes& body, bool pad = true) {
    Bytes c;
    append(c, id);
    le32(c, static_cast<std::uint32_t>(body.size()));
    append(c, body);
    if (pad && body.size() % 2 == 1) {
        c.push_back(0);
    }
    return c;
}

inline Bytes pcmFormat(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                       std::uint16_t tag = 1) {
    Bytes f;
    le16(f, tag);
    le16(f, channels);
    le32(f, rate);
    le32(f, rate * channels * bits / 8);
    le16(f, channels * bits / 8);
    le16(f, bits);
    return f;
}

// RIFF/WAVE from chunks given in file order.
inline Bytes riff(const std::vector<Bytes>& chunks) {
    Bytes body;
    append(body, "WAVE");
    for (const auto& c : chunks) {
        append(body, c);
    }
    Bytes file;
    append(file, "RIFF");
    le32(file, static_cast<std::uint32_t>(body.size()));
    append(file, body);
    return file;
}

inline Bytes wav(std::uint16_t channels, std::uint32_t rate, std::uint16_t bits, const Bytes& data) {
    return riff({chunk("fmt ", pcmFormat(channels, rate, bits)), chunk("data", data)});
}

inline Bytes rampPcm(std::size_t samples) {
    Bytes b;
    for (std::size_t i = 0; i < samples; ++i) {
        le16(b, static_cast<std::uint32_t>((i * 97) & 0xFFFF));
    }
    return b;
}

// One MPEG-1 Layer III frame: 128 kbit/s, 44100 Hz, joint stereo, no padding (417 bytes).
inline Bytes mpegFrame() {
    Bytes f(417, 0);
    const std::uint8_t header[] = {0xFF, 0xFB, 0x90, 0x44};
    std::copy(std::begin(header), std::end(header), f.begin());
    return f;
}

inline Bytes syncsafe(std::uint32_t v) {
    return {static_cast<std::uint8_t>((v >> 21) & 0x7F), static_cast<std::uint8_t>((v >> 14) & 0x7F),
            static_cast<std::uint8_t>((v >> 7) & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}

inline Bytes id3Frame(const std::string& id, const Bytes& data, std::uint8_t flags2 = 0) {
    Bytes f;
    append(f, id);
    const auto n = static_cast<std::uint32_t>(data.size());
    f.insert(f.end(), {static_cast<std::uint8_t>(n >> 24), static_cast<std::uint8_t>(n >> 16),
                       static_cast<std::uint8_t>(n >> 8), static_cast<std::uint8_t>(n)});
    f.push_back(0);
    f.push_back(flags2);
    append(f, data);
    return f;
}

inline Bytes id3Tag(const Bytes& frames, std::uint8_t major = 3, std::uint8_t flags = 0) {
    Bytes t;
    append(t, "ID3");
    t.push_back(major);
    t.push_back(0);
    t.push_back(flags);
    append(t, syncsafe(static_cast<std::uint32_t>(frames.size())));
    append(t, frames);
    return t;
}

inline Bytes latin1Text(const std::string& s) {
    Bytes b{0};
    append(b, s);
    return b;
}

inline Bytes id3v1(const std::string& title, const std::string& artist, const std::string& album) {
    Bytes t;
    append(t, "TAG");
    for (const auto* s : {&title, &artist, &album}) {
        Bytes field(30, 0);
        std::copy_n(s->begin(), std::min<std::size_t>(s->size(), 30), field.begin());
        append(t, field);
    }
    t.resize(128, 0);
    return t;
}

inline void writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline Bytes readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A fresh temporary folder, removed when the object goes.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tm-compresscodec-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Runs the ffmpeg tool quietly; true on success.
inline bool ffmpeg(const std::string& arguments) {
    const std::string command =
        "ffmpeg -nostdin -hide_banner -loglevel error -y " + arguments + " 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

} // namespace testfiles
