#include "platform/wmf/TagEditor.h"

#include "platform/os/Paths.h"
#include "platform/wmf/TagAttributes.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::wmf {

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies the open source into the open target; false on any read or write error.
bool copyContents(int source, int target) {
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(source, buffer.data(), buffer.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (!writeAll(target, buffer.data(), static_cast<std::size_t>(n))) {
            return false;
        }
    }
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { reset(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool reset() {
        const bool ok = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};

std::set<std::u16string> writableNames() {
    std::set<std::u16string> names;
    for (const auto& attribute : kTextAttributes) {
        names.insert(attribute.name);
    }
    return names;
}

} // namespace

HResult TagEditor::open(const char16_t* path) {
    if (path == nullptr) {
        return E_INVALIDARG;
    }
    close();
    // Through a symbolic link the file it points to is edited; the link itself stays a link.
    std::error_code ec;
    const std::filesystem::path native = std::filesystem::canonical(os::toNativePath(path), ec);
    struct stat st {};
    if (ec || ::stat(native.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return E_FAIL;
    }
    auto store = std::make_unique<AttributeStore>(writableNames());
    if (!readTagAttributes(native, *store)) {
        return E_FAIL;
    }
    path_ = native;
    opened_ = st;
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

HResult TagEditor::replaceWithTaggedCopy() {
    if (::access(path_.c_str(), W_OK) != 0) {
        return E_FAIL;
    }
    FileDescriptor source(::open(path_.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat current {};
    if (source.get() < 0 || ::fstat(source.get(), &current) != 0) {
        return E_FAIL;
    }
    if (!sameFile(current, opened_)) {
        return kFileChanged;
    }

    // The copy keeps the extension: the tag library picks the file type by it.
    const std::string extension = path_.extension().string();
    std::string name = ".";
    name.append(path_.stem().string()).append(".tmp-XXXXXX").append(extension);
    std::string pattern = (path_.parent_path() / name).string();
    FileDescriptor target(::mkstemps(pattern.data(), static_cast<int>(extension.size())));
    if (target.get() < 0) {
        return E_FAIL;
    }
    const std::filesystem::path copy = pattern;
    const auto fail = [&](HResult r) {
        target.reset();
        ::unlink(copy.c_str());
        return r;
    };
    if (!copyContents(source.get(), target.get()) || !target.reset()) {
        return fail(E_FAIL);
    }
    source.reset();

    const HResult written = writeTagAttributes(copy, *store_, store_->changedNames());
    if (failed(written)) {
        return fail(written);
    }
    FileDescriptor done(::open(copy.c_str(), O_RDONLY | O_CLOEXEC));
    if (done.get() < 0 || ::fchmod(done.get(), opened_.st_mode & 07777) != 0 || ::fsync(done.get()) != 0) {
        return fail(E_FAIL);
    }
    // Keeping the owner needs privileges we usually lack; the permissions above are what matters.
    (void)!::fchown(done.get(), opened_.st_uid, opened_.st_gid);
    done.reset();

    struct stat before {};
    if (::stat(path_.c_str(), &before) != 0 || !sameFile(before, opened_)) {
        return fail(kFileChanged);
    }
    if (::rename(copy.c_str(), path_.c_str()) != 0) {
        return fail(E_FAIL);
    }
    FileDescriptor folder(::open(path_.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) {
        (void)::fsync(folder.get());
    }
    return S_OK;
}

} // namespace tonemirror::wmf
