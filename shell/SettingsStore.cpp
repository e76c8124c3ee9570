#include "shell/SettingsStore.h"

#include "engine/FileIo.h"
#include "platform/os/Rename.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tonemirror::shell {

namespace {

namespace fs = std::filesystem;

// Held while the file is read and replaced, so that two running copies take turns. The folder is
// locked, not the file: the file itself is replaced by every write.
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_); // releases the lock
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    bool held() const { return fd_ >= 0; }

private:
    int fd_;
};

enum class DiskState { Missing, Valid, Invalid, Unreadable };

struct DiskRead {
    DiskState state = DiskState::Unreadable;
    SettingsDocument document;
};

// Reads at most one byte more than a settings file may hold.
DiskRead readDisk(const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return {errno == ENOENT ? DiskState::Missing : DiskState::Unreadable, {}};
    }
    struct stat st {};
    std::vector<std::byte> bytes(SettingsDocument::kMaxFileSize + 1);
    std::size_t size = 0;
    bool failed = ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode);
    while (!failed && size < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + size, bytes.size() - size);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        failed = n < 0;
        if (n <= 0) {
            break;
        }
        size += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (failed) {
        return {};
    }
    auto document = SettingsDocument::parse(std::span(bytes.data(), size));
    if (!document) {
        return {DiskState::Invalid, {}};
    }
    return {DiskState::Valid, std::move(*document)};
}

std::string timeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    char text[32] = "";
    if (::gmtime_r(&now, &utc) != nullptr) {
        std::strftime(text, sizeof(text), "%Y%m%d-%H%M%S", &utc);
    }
    return text;
}

// Renames a damaged file to a name of its own beside it, never replacing anything. Empty on failure.
fs::path keepAside(const fs::path& file) {
    const std::string base = file.filename().string() + ".damaged-" + timeStamp();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const fs::path target =
            file.parent_path() / (attempt == 1 ? base : base + "-" + std::to_string(attempt));
        const std::error_code error = os::renameNoReplace(file, target);
        if (!error) {
            return target;
        }
        if (error != std::errc::file_exists) {
            break;
        }
    }
    return {};
}

// The file a write replaces: the target of a settings file that is a symbolic link (dotfile
// managers keep them so), followed link by link, so the link itself stays.
fs::path writtenFile(const fs::path& file) {
    constexpr int kMaxLinks = 40; // as the kernel allows
    fs::path current = file;
    for (int link = 0; link < kMaxLinks; ++link) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error)) || error) {
            return current;
        }
        const fs::path next = fs::read_symlink(current, error);
        if (error) {
            return current;
        }
        current = next.is_absolute() ? next : current.parent_path() / next;
    }
    return current;
}

bool createFolder(const fs::path& folder) {
    std::error_code error;
    fs::create_directories(folder, error);
    return !error && fs::is_directory(folder, error);
}

} // namespace

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

std::filesystem::path SettingsStore::standardFile() {
    fs::path base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = fs::path(home) / ".config";
    } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        base = fs::path(pw->pw_dir) / ".config";
    } else {
        return {}; // no home: nowhere to keep settings (load() reports Unreadable)
    }
    return base / "Kestrelwick" / "Tonemirror.json";
}

SettingsStore::LoadStatus SettingsStore::load() {
    values_ = SettingsDocument();
    keptAside_.clear();
    writable_ = false;
    if (!createFolder(file_.parent_path())) {
        return LoadStatus::Unreadable;
    }
    const FolderLock lock(file_.parent_path());
    if (!lock.held()) {
        return LoadStatus::Unreadable;
    }
    DiskRead disk = readDisk(file_);
    switch (disk.state) {
    case DiskState::Missing:
        writable_ = true;
        return LoadStatus::Missing;
    case DiskState::Valid:
        values_ = std::move(disk.document);
        writable_ = true;
        return LoadStatus::Loaded;
    case DiskState::Invalid:
        keptAside_ = keepAside(writtenFile(file_));
        writable_ = !keptAside_.empty();
        return writable_ ? LoadStatus::KeptAside : LoadStatus::Unreadable;
    case DiskState::Unreadable:
        break;
    }
    return LoadStatus::Unreadable;
}

std::optional<std::uint32_t> SettingsStore::readNumber(std::string_view name) const {
    return values_.readNumber(name);
}

std::optional<std::u16string> SettingsStore::readText(std::string_view name) const {
    return values_.readText(name);
}

bool SettingsStore::writeNumber(std::string_view name, std::uint32_t value) {
    return write([&](SettingsDocument& document) { document.setNumber(name, value); });
}

bool SettingsStore::writeText(std::string_view name, std::u16string_view value) {
    return write([&](SettingsDocument& document) { document.setText(name, value); });
}

bool SettingsStore::writeAll(const std::function<void(SettingsDocument&)>& changes) {
    return write(changes);
}

// Starts from the file as it is now, so another copy's values are kept; a file that turned bad since
// is kept aside like at load time, and then our own values are written.
template <typename Change>
bool SettingsStore::write(const Change& change) {
    if (!writable_ || !createFolder(file_.parent_path())) {
        return false;
    }
    const FolderLock lock(file_.parent_path());
    if (!lock.held()) {
        return false;
    }
    DiskRead disk = readDisk(file_);
    if (disk.state == DiskState::Unreadable) {
        return false;
    }
    const fs::path target = writtenFile(file_);
    if (disk.state == DiskState::Invalid) {
        keptAside_ = keepAside(target);
        if (keptAside_.empty()) {
            return false;
        }
    }
    SettingsDocument next = disk.state == DiskState::Valid ? std::move(disk.document) : values_;
    change(next);
    const std::string bytes = next.serialize();
    if (bytes.size() > SettingsDocument::kMaxFileSize ||
        !engine::replaceFile(target, std::as_bytes(std::span(bytes.data(), bytes.size())))) {
        return false;
    }
    values_ = std::move(next);
    return true;
}

} // namespace tonemirror::shell
