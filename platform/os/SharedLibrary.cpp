#include "platform/os/SharedLibrary.h"

#include <dlfcn.h>
#include <utility>

namespace tonemirror::os {

SharedLibrary::~SharedLibrary() {
    unload();
}

SharedLibrary::SharedLibrary(SharedLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)), error_(std::move(other.error_)) {}

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        unload();
        handle_ = std::exchange(other.handle_, nullptr);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool SharedLibrary::load(const std::filesystem::path& path) {
    unload();
    // RTLD_LOCAL keeps each plug-in's symbols to itself; RTLD_NOW refuses a library with missing symbols.
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error_ = why != nullptr ? why : "cannot load library";
        return false;
    }
    error_.clear();
    return true;
}

void SharedLibrary::unload() {
    if (handle_ != nullptr) {
        dlclose(handle_);
        handle_ = nullptr;
    }
}

void* SharedLibrary::symbol(const char* name) const {
    if (handle_ == nullptr) {
        return nullptr;
    }
    return dlsym(handle_, name);
}

} // namespace tonemirror::os
