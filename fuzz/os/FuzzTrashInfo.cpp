// Feeds arbitrary bytes to the trash record reader. Beyond not crashing: a record it takes, written
// out again, reads back the same; and any bytes used as a path survive encoding and decoding.
#include "platform/os/TrashInfo.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace tonemirror::os;

namespace {

void check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    if (const auto info = parseTrashInfo(bytes)) {
        check(!info->path.empty() && info->path.find('\0') == std::string::npos);
        check(info->deletionDate.find('\n') == std::string::npos);
        const auto again = parseTrashInfo(formatTrashInfo(*info));
        check(again && again->path == info->path && again->deletionDate == info->deletionDate);
    }
    const std::string encoded = percentEncodePath(bytes);
    check(encoded.find('\n') == std::string::npos && encoded.find('\0') == std::string::npos);
    const auto decoded = percentDecodePath(encoded);
    check(bytes.find('\0') != std::string::npos ? !decoded : decoded && *decoded == bytes);
    return 0;
}
