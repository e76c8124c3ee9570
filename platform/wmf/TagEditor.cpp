#include "platform/wmf/TagEditor.h"

#include "platform/os/Paths.h"
#include "platform/wmf/AudioFootprint.h"
#include "platform/wmf/ContainerCheck.h"
#include "platform/wmf/CopyIdentity.h"
#include "platform/wmf/FileDescriptor.h"
#include "platform/wmf/TagAttributes.h"
#include "platform/wmf/TagValueRules.h"
#include "platform/wmf/TaggedCopy.h"
#include "platform/wmf/WriteResult.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::wmf {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// A write that takes nothing means a full disk; errno tells the rest.
int writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return n < 0 ? errno : ENOSPC;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return 0;
}

// Copies the open source into the open target; the errno of the first failure, 0 when all went well.
int copyContents(int source, int target) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(source, buffer.data(), buffer.size());
        if (n == 0) {
            return 0;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (const int error = writeAll(target, buffer.data(), static_cast<std::size_t>(n)); error != 0) {
            return error;
        }
    }
}

std::set<std::u16string> writableNames() {
    std::set<std::u16string> names;
    for (const auto& attribute : kTextAttributes) {
        names.insert(attribute.name);
    }
    return names;
}

std::atomic<std::int64_t> gReadingAllowanceMs{30000};

// Reading the audio of a large file takes a while, over a slow network share too (a millisecond per
// kilobyte allows for 1 MB/s); a damaged file must not make it take forever.
std::chrono::milliseconds readingLimit(off_t size) {
    return std::chrono::milliseconds(gReadingAllowanceMs.load() + size / 1000);
}

// A track number may come back in another spelling ("07" as "7"); its numbers must be the same.
std::vector<unsigned long> trackNumbers(const std::u16string& text) {
    std::vector<unsigned long> numbers;
    unsigned long value = 0;
    bool digits = false;
    for (const char16_t c : text + u'/') {
        if (c >= u'0' && c <= u'9') {
            value = value * 10 + static_cast<unsigned long>(c - u'0');
            digits = true;
        } else {
            numbers.push_back(digits ? value : 0);
            value = 0;
            digits = false;
        }
    }
    while (!numbers.empty() && numbers.back() == 0) {
        numbers.pop_back();
    }
    return numbers;
}

// The file was there at open: if it is gone now, someone else removed or moved it.
HResult goneOrCause(int error) {
    return error == ENOENT || error == ENOTDIR ? kFileChanged : resultFromErrno(error);
}

bool sameTagValue(const std::u16string& name, const std::u16string& wanted, const std::u16string& found) {
    if (name == kAttrTrack && wanted.size() < 12 && found.size() < 12) {
        return trackNumbers(wanted) == trackNumbers(found);
    }
    return wanted == found;
}

} // namespace

void TagEditor::setReadingAllowance(std::chrono::milliseconds base) {
    gReadingAllowanceMs = base.count();
}

HResult TagEditor::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    close();
    // Through a symbolic link the file it points to is edited; the link itself stays a link.
    std::error_code ec;
    const std::filesystem::path native = std::filesystem::canonical(os::toNativePath(path), ec);
    if (ec) {
        return resultFromErrno(ec.value());
    }
    FileDescriptor fd(::open(native.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0) {
        return resultFromErrno(errno);
    }
    const FileKind kind = S_ISREG(st.st_mode) ? detectFileKind(fd.get(), native) : FileKind::Unknown;
    auto store = std::make_unique<AttributeStore>(
        writableNames(), [kind](const std::u16string& name, std::u16string_view text) {
            return checkTagValue(kind, name, text);
        });
    if (kind == FileKind::Unknown) {
        return E_UNSUPPORTED_CONTENT;
    }
    if (!readTagAttributes(fd.get(), kind, *store)) {
        return containerSound(fd.get(), kind) ? E_UNSUPPORTED_CONTENT : E_DAMAGED_FILE;
    }
    path_ = native;
    opened_ = st;
    kind_ = kind;
    // Its tags can be read; writing would put the wrong kind of tag where the name promises another.
    refusal_ = nameFitsKind(native, kind) ? S_OK : E_CONTENT_MISMATCH;
    store_ = std::move(store);
    return S_OK;
}

HResult TagEditor::close() {
    store_.reset();
    path_.clear();
    return S_OK;
}

HResult TagEditor::flush() {
    if (store_ == nullptr) {
        return E_FAIL;
    }
    const HResult result = store_->changedNames().empty() ? S_OK : replaceWithTaggedCopy();
    close();
    return result;
}

HResult TagEditor::headerInfo(IHeaderInfo** info) {
    if (info == nullptr) {
        return E_INVALIDARG;
    }
    *info = store_.get();
    return store_ != nullptr ? S_OK : E_FAIL;
}

bool TagEditor::unchangedSinceOpen(int fd) const {
    struct stat current {};
    const int r = fd >= 0 ? ::fstat(fd, &current) : ::stat(path_.c_str(), &current);
    return r == 0 && sameFile(current, opened_);
}

HResult TagEditor::replaceWithTaggedCopy() {
    if (failed(refusal_)) {
        return refusal_;
    }
    if (::access(path_.c_str(), W_OK) != 0) {
        return goneOrCause(errno);
    }
    FileDescriptor source(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    if (source.get() < 0) {
        return goneOrCause(errno);
    }
    if (!unchangedSinceOpen(source.get())) {
        return kFileChanged;
    }
    if (const HResult r = checkSingleName(opened_); failed(r)) {
        return r;
    }
    if (!containerSound(source.get(), kind_)) {
        return E_DAMAGED_FILE;
    }
    const auto before = measureAudio(path_, readingLimit(opened_.st_size));
    if (!before) {
        return E_DAMAGED_FILE;
    }
    TaggedCopy copy;
    HResult r = copy.create(path_);
    if (succeeded(r)) {
        r = copyIdentity(source.get(), copy.fd(), opened_); // on the empty copy: a refusal costs nothing
    }
    if (succeeded(r)) {
        r = fillCopy(source.get(), copy);
    }
    if (succeeded(r)) {
        r = verifyCopy(copy, *before);
    }
    if (failed(r)) {
        return copy.removed() ? E_INTERRUPTED : r;
    }
    // The last look before the rename: another program may have saved the file meanwhile.
    if (!unchangedSinceOpen(-1)) {
        return kFileChanged;
    }
    return copy.replace(path_);
}

HResult TagEditor::fillCopy(int source, TaggedCopy& copy) const {
    if (const int error = copyContents(source, copy.fd()); error != 0) {
        return resultFromErrno(error);
    }
    long length = 0;
    const HResult written = writeTagAttributes(copy.fd(), kind_, *store_, store_->changedNames(), &length);
    if (failed(written)) {
        return written;
    }
    struct stat st {};
    if (::fstat(copy.fd(), &st) != 0 || st.st_size != length) {
        return E_VERIFY_FAILED; // the file system kept something else than what was written
    }
    return copy.finish();
}

HResult TagEditor::verifyCopy(const TaggedCopy& copy, const AudioFootprint& original) const {
    FileDescriptor fd(::open(copy.path().c_str(), O_RDONLY | O_CLOEXEC));
    AttributeStore reread(writableNames());
    // The copy must be the same kind of file, as sound in its structure, with the new tags in it.
    if (fd.get() < 0 || detectFileKind(fd.get(), path_) != kind_ || !containerSound(fd.get(), kind_) ||
        !readTagAttributes(fd.get(), kind_, reread)) {
        return E_VERIFY_FAILED;
    }
    for (const auto& name : store_->changedNames()) {
        if (!sameTagValue(name, store_->stringValue(name), reread.stringValue(name))) {
            return E_VERIFY_FAILED;
        }
    }
    const auto after = measureAudio(copy.path(), readingLimit(opened_.st_size));
    return after && *after == original ? S_OK : E_VERIFY_FAILED;
}

} // namespace tonemirror::wmf
