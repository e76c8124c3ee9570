#pragma once

#include <filesystem>
#include <string>

namespace tonemirror::os {

// A loaded shared library; unloaded when destroyed.
class SharedLibrary {
public:
    SharedLibrary() = default;
    ~SharedLibrary();
    SharedLibrary(SharedLibrary&& other) noexcept;
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;

    // Loads the library; false (with error() set) when it cannot be loaded.
    bool load(const std::filesystem::path& path);
    void unload();
    bool isLoaded() const { return handle_ != nullptr; }

    // Address of an exported symbol, or null.
    void* symbol(const char* name) const;
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string error_;
};

} // namespace tonemirror::os
