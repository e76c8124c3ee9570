#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

namespace tonemirror::engine {

// Reads a whole open file from offset 0, bounded by the size the file has when the read starts
// (a file that grows meanwhile is read up to that size). nullopt when a read fails.
std::optional<std::vector<std::byte>> readWholeFile(int fd);

// The open file's size; nullopt when it cannot be asked.
std::optional<std::uint64_t> fileSize(int fd);

// The file's first `limit` bytes (fewer when it is shorter). nullopt when a read fails.
std::optional<std::vector<std::byte>> readHead(int fd, std::size_t limit);

// Writes all bytes at `offset`, retrying short writes. False on failure (some bytes may be written).
bool writeAllAt(int fd, std::uint64_t offset, std::span<const std::byte> bytes);

// Replaces `target` with `bytes` through a temporary file in the same folder that is flushed to disk
// and then renamed over it, so a crash leaves either the old or the new content, never a mix.
// Keeps the permission bits of an existing target. False when any step fails (the target is then
// untouched and the temporary file removed).
bool replaceFile(const std::filesystem::path& target, std::span<const std::byte> bytes);

} // namespace tonemirror::engine
