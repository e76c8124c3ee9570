#pragma once

#include "platform/wmf/AttributeStore.h"
#include "platform/wmf/FileKind.h"

#include <filesystem>
#include <string>

namespace tonemirror::wmf {

// Attribute names of the runtime.
inline constexpr char16_t kAttrTitle[] = u"Title";
inline constexpr char16_t kAttrAuthor[] = u"Author";
inline constexpr char16_t kAttrAlbum[] = u"WM/AlbumTitle";
inline constexpr char16_t kAttrYear[] = u"WM/Year";
inline constexpr char16_t kAttrTrack[] = u"WM/TrackNumber";
inline constexpr char16_t kAttrDescription[] = u"Description";
inline constexpr char16_t kAttrGenre[] = u"WM/Genre";
inline constexpr char16_t kAttrBitrate[] = u"Bitrate";   // Dword, bits per second
inline constexpr char16_t kAttrDuration[] = u"Duration"; // Qword, 100 ns units

// The text attributes and the tag-library property each one is kept in.
struct TextAttribute {
    const char16_t* name;
    const char* property;
};
inline constexpr TextAttribute kTextAttributes[] = {
    {kAttrTitle, "TITLE"},       {kAttrAuthor, "ARTIST"},       {kAttrAlbum, "ALBUM"}, {kAttrYear, "DATE"},
    {kAttrTrack, "TRACKNUMBER"}, {kAttrDescription, "COMMENT"}, {kAttrGenre, "GENRE"},
};

// Fills `store` with the text attributes, bit rate and duration of the file, read without writing.
// False when the tag library does not know the file or finds no audio in it.
bool readTagAttributes(const std::filesystem::path& file, AttributeStore& store);
// The same for an open file of a known kind.
bool readTagAttributes(int fd, FileKind kind, AttributeStore& store);

// Writes the named text attributes of `store` into the open file (an empty text removes the
// property) and sets *length to the size the file should now have. S_OK or a failure that names its
// cause; on failure the file may be half written, so callers pass a copy.
HResult writeTagAttributes(int fd, FileKind kind, const AttributeStore& store,
                           const std::set<std::u16string>& names, long* length);

} // namespace tonemirror::wmf
