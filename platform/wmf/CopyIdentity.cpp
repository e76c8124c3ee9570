#include "platform/wmf/CopyIdentity.h"

#include "platform/wmf/WriteResult.h"

#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::wmf {

namespace {

constexpr std::size_t kMaxAttributeSize = 65536; // the system's own limit for one value

// Adds the attribute names of an open file to `names`; false when they cannot be listed.
bool attributeNames(int fd, std::set<std::string>& names) {
    std::vector<char> list(4096);
    for (;;) {
        const ssize_t n = ::flistxattr(fd, list.data(), list.size());
        if (n >= 0) {
            for (std::size_t at = 0; at < static_cast<std::size_t>(n); at += std::strlen(&list[at]) + 1) {
                names.emplace(&list[at]);
            }
            return true;
        }
        if (errno == ENOTSUP) {
            return true; // the file system keeps none
        }
        if (errno != ERANGE || list.size() >= (1u << 20)) {
            return false;
        }
        list.resize(list.size() * 4);
    }
}

bool attributeValue(int fd, const std::string& name, std::vector<char>& value) {
    value.resize(kMaxAttributeSize);
    const ssize_t n = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
    if (n < 0) {
        return false;
    }
    value.resize(static_cast<std::size_t>(n));
    return true;
}

// Labels a security module gives every new file are its to set; the copy keeps the one it got.
bool assignedBySystem(const std::string& name) {
    return name.rfind("security.", 0) == 0;
}

HResult copyAttributes(int original, int copy) {
    std::set<std::string> wanted;
    std::set<std::string> present;
    if (!attributeNames(original, wanted) || !attributeNames(copy, present)) {
        return E_ATTRIBUTES_LOST;
    }
    std::vector<char> value;
    std::vector<char> existing;
    for (const std::string& name : wanted) {
        if (!attributeValue(original, name, value)) {
            return E_ATTRIBUTES_LOST;
        }
        if (::fsetxattr(copy, name.c_str(), value.data(), value.size(), 0) != 0 &&
            !(attributeValue(copy, name, existing) && existing == value)) {
            return E_ATTRIBUTES_LOST;
        }
    }
    // What the folder's default access list or the system added to the new file goes again.
    for (const std::string& name : present) {
        if (!wanted.contains(name) && ::fremovexattr(copy, name.c_str()) != 0 && !assignedBySystem(name)) {
            return E_ATTRIBUTES_LOST;
        }
    }
    return S_OK;
}

} // namespace

HResult checkSingleName(const struct stat& original) {
    return original.st_nlink > 1 ? E_HARD_LINKED : S_OK;
}

HResult copyIdentity(int original, int copy, const struct stat& st) {
    struct stat now {};
    if (::fstat(copy, &now) != 0) {
        return resultFromErrno(errno);
    }
    // Attributes and mode first: once the copy belongs to someone else, we may set neither.
    if (const HResult r = copyAttributes(original, copy); failed(r)) {
        return r;
    }
    if (::fchmod(copy, st.st_mode & 07777) != 0) {
        return resultFromErrno(errno);
    }
    const uid_t owner = st.st_uid == now.st_uid ? static_cast<uid_t>(-1) : st.st_uid;
    const gid_t group = st.st_gid == now.st_gid ? static_cast<gid_t>(-1) : st.st_gid;
    if ((owner != static_cast<uid_t>(-1) || group != static_cast<gid_t>(-1)) &&
        ::fchown(copy, owner, group) != 0) {
        return owner != static_cast<uid_t>(-1) ? E_OTHER_OWNER : E_ATTRIBUTES_LOST;
    }
    // A change of owner clears the set-user and set-group bits; put back what the original had.
    if (owner != static_cast<uid_t>(-1) && (st.st_mode & 06000) != 0 &&
        ::fchmod(copy, st.st_mode & 07777) != 0) {
        return E_ATTRIBUTES_LOST;
    }
    return S_OK;
}

} // namespace tonemirror::wmf
