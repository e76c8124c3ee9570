// Feeds arbitrary bytes to the cache loader. Beyond not crashing, the loader must keep exactly the
// good prefix: loading that prefix again gives the same records, and every loaded track written
// back out (with its details record when it has a stamp or print) reads back unchanged, both included.
// Reading the same bytes from a file in windows must find the same.
#include "engine/CacheFormat.h"
#include "engine/IgnoreSet.h"
#include "engine/TrackTable.h"

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

using namespace tonemirror::engine;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::byte> bytes(reinterpret_cast<const std::byte*>(data), size);
    TrackTable table;
    IgnoreSet ignored;
    const auto result = cache::parse(bytes, table, ignored);
    check(result.goodEnd <= size);
    if (const int fd = memfd_create("cache", MFD_CLOEXEC); fd >= 0) {
        TrackTable fromFile;
        IgnoreSet fromFileIgnored;
        const bool written = write(fd, data, size) == static_cast<ssize_t>(size);
        const auto windowed = cache::parseFile(fd, size, fromFile, fromFileIgnored);
        close(fd);
        check(!written || (windowed && windowed->goodEnd == result.goodEnd &&
                           windowed->headerValid == result.headerValid && fromFile.size() == table.size() &&
                           fromFileIgnored.size() == ignored.size()));
    }
    if (!result.headerValid) {
        check(result.goodEnd == 0 && table.empty() && ignored.empty());
        return 0;
    }
    check(result.goodEnd >= cache::kHeaderSize);
    check(table.size() <= result.trackRecords && ignored.size() <= result.pairRecords);
    check(static_cast<std::size_t>(table.tracksKnown()) == table.size());

    TrackTable again;
    IgnoreSet againIgnored;
    const auto prefix = cache::parse(bytes.first(result.goodEnd), again, againIgnored);
    check(prefix.goodEnd == result.goodEnd && again.size() == table.size() &&
          againIgnored.size() == ignored.size() && prefix.detailsRecords == result.detailsRecords);

    std::vector<std::byte> file(cache::header().begin(), cache::header().end());
    std::vector<std::byte> record;
    for (const auto& [path, track] : table) {
        check(track.trackId == -1);
        check(cache::serializeTrackWithDetails(path, track, record) == tonemirror::S_OK);
        file.insert(file.end(), record.begin(), record.end());
    }
    TrackTable written;
    const auto back = cache::parse(file, written, againIgnored);
    check(back.goodEnd == file.size() && written.size() == table.size());
    for (const auto& [path, track] : table) {
        const auto* read = written.find(path);
        check(read != nullptr && read->fileStamp == track.fileStamp && read->nameText == track.nameText &&
              read->acousticPrint == track.acousticPrint);
    }
    return 0;
}
