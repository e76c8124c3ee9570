#include "cli/CliCommon.h"

#include "cli/OutputText.h"
#include "platform/os/FileIdentity.h"
#include "platform/os/Text.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace tonemirror::cli {

bool outputWritten() {
    std::cout.flush();
    const bool stream = !std::cout.fail();
    return std::fflush(stdout) == 0 && std::ferror(stdout) == 0 && stream;
}

void exitNow(int status) {
    if (!outputWritten()) {
        printError("could not write to standard output; the output is incomplete");
        status = kExitFailure;
    }
    std::cerr.flush();
    std::fflush(stderr);
    std::_Exit(status);
}

void printError(std::string_view message) {
    std::cerr << "tonemirror-cli: " << message << '\n';
}

std::string fieldText(const char16_t* field, std::size_t capacity) {
    std::size_t n = 0;
    while (n < capacity && field[n] != 0) {
        ++n;
    }
    return os::utf16ToUtf8(std::u16string_view(field, n));
}

bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    const auto first = os::identify(a);
    const auto second = os::identify(b);
    return first && second && first->key == second->key;
}

std::string cacheProblem(const std::filesystem::path& file, engine::CacheFile::OpenResult result) {
    const std::string name = "'" + displayPath(file.native()) + "'";
    switch (result) {
    case engine::CacheFile::OpenResult::Locked:
        return name + " is in use by a running copy of Tonemirror";
    case engine::CacheFile::OpenResult::NotRegular:
        return name + " is not a regular file (a pipe, device or kernel file); it was not used";
    case engine::CacheFile::OpenResult::Foreign:
        return name + " is not a Tonemirror cache file; it was left untouched";
    case engine::CacheFile::OpenResult::Ok:
    case engine::CacheFile::OpenResult::CannotOpen:
        break;
    }
    return "cannot open " + name;
}

void sayCacheChoice(std::string_view command, const std::vector<engine::TrackStore::CacheAttempt>& passedOver,
                    const std::filesystem::path& used) {
    for (const auto& attempt : passedOver) {
        printError(std::string(command) + ": " + cacheProblem(attempt.file, attempt.result));
    }
    printError(std::string(command) + ": using the cache '" + displayPath(used.native()) + "'");
}

std::string resultName(HResult result) {
    switch (result) {
    case S_OK:
        return "S_OK";
    case E_FAIL:
        return "E_FAIL";
    case E_INVALIDARG:
        return "E_INVALIDARG";
    case E_NOTIMPL:
        return "E_NOTIMPL";
    case E_NOINTERFACE:
        return "E_NOINTERFACE";
    case E_OUTOFMEMORY:
        return "E_OUTOFMEMORY";
    case E_END_OF_STREAM:
        return "E_END_OF_STREAM";
    default:
        break;
    }
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(result));
    return buffer;
}

std::string undecodableFileText(const std::filesystem::path& file, std::size_t decoders) {
    const std::string name = "'" + displayPath(file.native()) + "'";
    std::error_code ec;
    const std::filesystem::file_type type = std::filesystem::status(file, ec).type();
    if (type == std::filesystem::file_type::not_found) {
        return name + " does not exist";
    }
    if (type == std::filesystem::file_type::directory) {
        return name + " is a folder, not an audio file";
    }
    switch (os::checkRegularFile(file)) {
    case os::OpenRefusal::NotRegular:
        return name + " is not a regular file (a pipe, device or socket); it was not read";
    case os::OpenRefusal::PseudoFileSystem:
        return name + " is a kernel file, not an audio file; it was not read";
    case os::OpenRefusal::None:
    case os::OpenRefusal::CannotOpen:
        break;
    }
    if (::access(file.c_str(), R_OK) != 0) {
        return "cannot read " + name + ": " + std::strerror(errno);
    }
    if (decoders == 0) {
        return "no codec plug-in was found in the program's folder, so " + name + " cannot be decoded";
    }
    return "no plug-in can decode " + name + ": it is not an audio file, or not in a format the " +
           std::to_string(decoders) + " installed plug-in(s) read";
}

} // namespace tonemirror::cli
