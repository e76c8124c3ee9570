#include "shell/FileDetails.h"

#include "audio/AudioSource.h"
#include "engine/TrackStore.h"
#include "platform/os/Paths.h"
#include "shell/FileQuality.h"

#include <filesystem>
#include <string_view>

namespace tonemirror::shell {

namespace {

// A text field of the stream information; bounded even when the decoder left out the final NUL.
std::u16string streamText(const char16_t (&field)[TM_STREAM_TEXT_CHARS]) {
    const std::u16string_view all(field, TM_STREAM_TEXT_CHARS);
    return std::u16string(all.substr(0, all.find(u'\0')));
}

} // namespace

void splitPath(const std::u16string& path, std::u16string& folder, std::u16string& fileName) {
    const std::size_t cut = path.rfind(os::kNativeSeparator);
    if (cut == std::u16string::npos) {
        folder.clear();
        fileName = path;
        return;
    }
    folder = path.substr(0, cut);
    fileName = path.substr(cut + 1);
}

std::shared_ptr<engine::DetailsRecord> readFileDetails(const std::u16string& path,
                                                       audio::AudioSource& source) {
    if (source.open(path) < 0) {
        return nullptr;
    }
    auto record = std::make_shared<engine::DetailsRecord>();
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(os::toNativePath(path), error);
    record->sizeBytes = error ? 0 : static_cast<std::uint64_t>(size);
    splitPath(path, record->folder, record->fileName);
    StreamInfo info{};
    if (source.getInfo(&info) >= 0) {
        record->title = streamText(info.title);
        record->artist = streamText(info.artist);
        record->album = streamText(info.album);
        record->durationMs = info.durationMs;
        record->bitRate = info.bitRate;
    }
    source.close();
    return record;
}

std::shared_ptr<engine::DetailsRecord> readFileDetails(const std::u16string& path, audio::AudioSource& source,
                                                       engine::TrackStore* store) {
    auto record = readFileDetails(path, source);
    if (!record) {
        return record;
    }
    const FileQuality quality = readFileQuality(path, source, nullptr);
    record->format = quality.format;
    record->lossless = quality.lossless;
    record->sampleRate = quality.sampleRate;
    record->channels = quality.channels;
    record->tagFields = quality.tagFields;
    if (quality.lossless && store != nullptr) {
        // The spectrum is read under the table's lock; the header reads above run without it.
        store->lock().lockShared();
        const analysis::TrackRecord* analysed = store->table().find(path);
        record->cutoffHz = analysed != nullptr ? transcodeCutoffHz(*analysed) : 0;
        store->lock().unlock();
        record->probablyTranscoded = record->cutoffHz != 0;
    }
    return record;
}

} // namespace tonemirror::shell
