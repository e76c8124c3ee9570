#pragma once

#include "plugin-api/PluginApi.h"

#include <cerrno>

namespace tonemirror::wmf {

// The tagger result that names the cause of a failed file operation.
inline HResult resultFromErrno(int error) {
    switch (error) {
    case ENOSPC:
    case EDQUOT:
        return E_DISK_FULL;
    case EFBIG:
        return E_FILE_TOO_LARGE;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
        return E_ACCESS_DENIED;
    case ENAMETOOLONG:
        return E_NAME_TOO_LONG;
    case ENOENT:
    case ENOTDIR:
        return E_FILE_NOT_FOUND;
    case EIO:
        return E_DISK_ERROR;
    default:
        return E_FAIL;
    }
}

} // namespace tonemirror::wmf
