/*
 * Tonemirror codec plug-in contract.
 *
 * A plug-in is a shared library in the program's folder ("*.so") that exports one function,
 * GetInterface, with C linkage. Through it the program obtains decoder (IDecoder) and tagger (ITagger)
 * objects. Objects are plain C structures whose first member points to a table of function pointers
 * (slots), so the layout does not depend on the C++ compiler's virtual-table scheme.
 *
 * Ownership
 *   - Every object is created inside the plug-in by GetInterface and destroyed only by its own Release.
 *     The program never frees plug-in memory with its own allocator.
 *   - The data block that IDecoder::Read returns belongs to the decoder; it stays valid until the next
 *     Read, Close or Release on that decoder.
 *   - StreamFormat, StreamInfo and text buffers belong to the caller; the plug-in only writes into them
 *     during the call. Paths and tag texts passed in are read during the call only.
 *
 * Threads
 *   - Each object is used by one thread at a time. Distinct objects of one plug-in may be used on
 *     different threads at the same time, so a plug-in keeps no unguarded per-library state that Open
 *     or Read change.
 *   - GetInterface may be called from any thread.
 *
 * Results
 *   Every slot that can fail returns a signed 32-bit result; negative means failure. Platform results
 *   may be passed through unchanged, so callers test the sign only.
 *
 * Text
 *   Wide text is UTF-16 (char16_t), NUL-terminated unless a length is given.
 */
#ifndef TONEMIRROR_PLUGIN_API_H
#define TONEMIRROR_PLUGIN_API_H

#include <stdint.h>

#ifdef __cplusplus
#include <cstddef>
#define TM_CHAR16 char16_t
extern "C" {
#else
#include <uchar.h>
#define TM_CHAR16 char16_t
#endif

typedef int32_t TmResult;

#define TM_S_OK ((TmResult)0)
#define TM_E_FAIL ((TmResult)0x80004005u)
#define TM_E_INVALIDARG ((TmResult)0x80070057u)
#define TM_E_NOTIMPL ((TmResult)0x80004001u)
#define TM_E_NOINTERFACE ((TmResult)0x80004002u)
#define TM_E_OUTOFMEMORY ((TmResult)0x8007000Eu)
/* IDecoder Read: the stream has no more data. */
#define TM_E_END_OF_STREAM ((TmResult)0x80040001u)

/* Tagger results that name why a file or a value was refused, so the program can tell the user.
 * ITagger Open, Close and SetTag may return them; a tagger may also return any other failure, and a
 * caller that only tests the sign keeps working. Added after the first plug-ins: older taggers never
 * return them, newer ones work with older programs. */
/* The file is not there (any more). */
#define TM_E_FILE_NOT_FOUND ((TmResult)0x80070002u)
/* The file or its folder may not be written. */
#define TM_E_ACCESS_DENIED ((TmResult)0x80070005u)
/* The disk reported a read or write error. */
#define TM_E_DISK_ERROR ((TmResult)0x8007001Du)
/* No space left on the disk (or the user's quota is used up). */
#define TM_E_DISK_FULL ((TmResult)0x80070070u)
/* The file's name, or the name of its temporary copy, is longer than the file system allows. */
#define TM_E_NAME_TOO_LONG ((TmResult)0x800700CEu)
/* The file would grow beyond what the file system (or a limit set for the program) allows. */
#define TM_E_FILE_TOO_LARGE ((TmResult)0x800700DFu)
/* The file was changed, replaced or removed by someone else after Open. */
#define TM_E_FILE_CHANGED ((TmResult)0xC00D0BC8u)
/* The file's content is another format than its name says (a WAV file named ".mp3"). */
#define TM_E_CONTENT_MISMATCH ((TmResult)0x80040201u)
/* The file's content is not a format whose tags the tagger writes. */
#define TM_E_UNSUPPORTED_CONTENT ((TmResult)0x80040202u)
/* The file's container structure does not check out; writing into it could make it unplayable. */
#define TM_E_DAMAGED_FILE ((TmResult)0x80040203u)
/* The written copy did not read back with the same audio and the new tags; the file is unchanged. */
#define TM_E_VERIFY_FAILED ((TmResult)0x80040204u)
/* The file belongs to another user, who would lose it if it were replaced. */
#define TM_E_OTHER_OWNER ((TmResult)0x80040205u)
/* The file has further names (hard links) that replacing it would separate from it. */
#define TM_E_HARD_LINKED ((TmResult)0x80040206u)
/* The file's group, access lists or extended attributes could not be kept. */
#define TM_E_ATTRIBUTES_LOST ((TmResult)0x80040207u)
/* The write was interrupted (a signal ended the program). */
#define TM_E_INTERRUPTED ((TmResult)0x80040208u)
/* SetTag: the value must be a number (a track: "7" or "7/12", at most 32767). */
#define TM_E_NOT_A_NUMBER ((TmResult)0x80040210u)
/* SetTag: the value must be a year or date ("2021", "2021-05" or "2021-05-30"). */
#define TM_E_NOT_A_DATE ((TmResult)0x80040211u)
/* SetTag: the text is longer than the file can store. */
#define TM_E_TEXT_TOO_LONG ((TmResult)0x80040212u)
/* SetTag: the text holds a NUL character or a broken (unpaired) UTF-16 surrogate. */
#define TM_E_INVALID_TEXT ((TmResult)0x80040213u)

/* A 16-byte interface identifier in the usual GUID layout, passed by value. */
typedef struct TmGuid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
} TmGuid;

/* {D75F7E97-BEF3-417A-BE79-83C45FF51EA4} */
#define TM_IID_IDECODER {0xD75F7E97u, 0xBEF3u, 0x417Au, {0xBE, 0x79, 0x83, 0xC4, 0x5F, 0xF5, 0x1E, 0xA4}}
/* {CA5A58EC-5D14-4D17-9CCF-7EC442CCBBCE} */
#define TM_IID_ITAGGER {0xCA5A58ECu, 0x5D14u, 0x4D17u, {0x9C, 0xCF, 0x7E, 0xC4, 0x42, 0xCC, 0xBB, 0xCE}}

#pragma pack(push, 1)

/* Format of the PCM that IDecoder Read delivers: always interleaved signed 16-bit little-endian,
 * left then right for stereo. */
typedef struct StreamFormat {
    uint16_t formatTag;  /* always 1: integer PCM */
    uint16_t channels;   /* 1 or 2 */
    uint32_t sampleRate; /* frames per second */
} StreamFormat;

#define TM_STREAM_TEXT_CHARS 256

/* What a decoder knows about the open file. The plug-in writes the whole record. */
typedef struct StreamInfo {
    uint32_t durationMs; /* play time in milliseconds, 0 if unknown */
    uint32_t bitRate;    /* bits per second, 0 if unknown */
    TM_CHAR16 title[TM_STREAM_TEXT_CHARS];  /* NUL-terminated, at most 255 characters, empty if unknown */
    TM_CHAR16 artist[TM_STREAM_TEXT_CHARS]; /* as title */
    TM_CHAR16 album[TM_STREAM_TEXT_CHARS];  /* as title */
} StreamInfo;

#pragma pack(pop)

/* Tag selector of ITagger GetTag and SetTag. */
typedef enum TagId {
    TagId_Title = 1,
    TagId_Artist = 2,
    TagId_Album = 3,
    TagId_Year = 4,
    TagId_Track = 5,
    TagId_Comment = 6,
    TagId_Genre = 7
} TagId;

typedef struct IDecoder IDecoder;
typedef struct ITagger ITagger;

/* Decoder slots, in slot order. Every slot takes the object itself first. */
typedef struct IDecoderVtbl {
    /* 0: closes what is open and destroys the object. */
    void (*Release)(IDecoder* self);
    /* 1: closes any open file first, then opens the file at path (NUL-terminated UTF-16).
     *    TM_S_OK when decodable; TM_E_INVALIDARG for a null path; otherwise a failure. */
    TmResult (*Open)(IDecoder* self, const TM_CHAR16* path);
    /* 2: releases the file and codec state. TM_S_OK. */
    TmResult (*Close)(IDecoder* self);
    /* 3: next chunk of PCM: *data and *bytes are set and TM_S_OK returned (bytes may be 0);
     *    TM_E_END_OF_STREAM when nothing is left; TM_E_FAIL when not open; TM_E_INVALIDARG for null
     *    addresses. The block belongs to the decoder (see Ownership). */
    TmResult (*Read)(IDecoder* self, const void** data, uint32_t* bytes);
    /* 4: rank among decoders; the higher value is tried first. */
    int32_t (*GetPriority)(IDecoder* self);
    /* 5: fills *info. TM_S_OK when filled; TM_E_FAIL when not open or nothing is known;
     *    TM_E_INVALIDARG for null. */
    TmResult (*GetInfo)(IDecoder* self, StreamInfo* info);
    /* 6: fills *format. TM_S_OK when open; TM_E_FAIL when not open; TM_E_INVALIDARG for null. */
    TmResult (*GetFormat)(IDecoder* self, StreamFormat* format);
} IDecoderVtbl;

struct IDecoder {
    const IDecoderVtbl* vtbl;
};

/* Tagger slots, in slot order. */
typedef struct ITaggerVtbl {
    /* 0: closes (committing changes) and destroys the object. */
    void (*Release)(ITagger* self);
    /* 1: closes any open file first; TM_S_OK when the file's tags can be read and written. A failure
     *    may name its reason (tagger results above). */
    TmResult (*Open)(ITagger* self, const TM_CHAR16* path);
    /* 2: writes the changes made since Open (if any) and closes. TM_S_OK, or a failure when the
     *    changes could not be written (the file is then left as it was); the failure may name its
     *    reason (tagger results above). */
    TmResult (*Close)(ITagger* self);
    /* 3: rank among taggers; the higher value is tried first. */
    int32_t (*GetPriority)(ITagger* self);
    /* 4: copies the tag's text into buffer (capacity in characters, including the NUL), truncated to
     *    capacity - 1 characters. TM_E_NOTIMPL with an empty buffer when the tag is absent, not text,
     *    or the id unknown; TM_E_INVALIDARG for a null buffer or capacity 0; TM_E_FAIL when not open. */
    TmResult (*GetTag)(ITagger* self, int32_t tag, TM_CHAR16* buffer, int32_t capacity);
    /* 5: stores the text (length in characters, without terminator); written to the file at Close.
     *    TM_E_NOTIMPL when refused or the id unknown, or a tagger result above that says why the
     *    value was refused (the tag then keeps its old value); TM_E_INVALIDARG for null text;
     *    TM_E_FAIL when not open. */
    TmResult (*SetTag)(ITagger* self, int32_t tag, const TM_CHAR16* text, int32_t length);
} ITaggerVtbl;

struct ITagger {
    const ITaggerVtbl* vtbl;
};

/* The only export of a plug-in, looked up by the name "GetInterface".
 *   TM_E_INVALIDARG when object is null;
 *   for TM_IID_IDECODER / TM_IID_ITAGGER when implemented: a fresh object in *object and TM_S_OK,
 *   or null in *object and TM_E_OUTOFMEMORY when it could not be allocated;
 *   for any other identifier TM_E_NOINTERFACE, *object untouched.
 * May be called from any thread. */
typedef TmResult (*GetInterfaceFn)(TmGuid iid, void** object);

#define TM_GET_INTERFACE_NAME "GetInterface"

#ifdef __cplusplus
} /* extern "C" */

static_assert(sizeof(StreamFormat) == 8, "StreamFormat crosses the plug-in boundary");
static_assert(sizeof(StreamInfo) == 1544, "StreamInfo crosses the plug-in boundary");
static_assert(offsetof(StreamInfo, title) == 8);
static_assert(offsetof(StreamInfo, artist) == 520);
static_assert(offsetof(StreamInfo, album) == 1032);
static_assert(sizeof(TmGuid) == 16);

namespace tonemirror {

using HResult = TmResult;

inline constexpr HResult S_OK = TM_S_OK;
inline constexpr HResult E_FAIL = TM_E_FAIL;
inline constexpr HResult E_INVALIDARG = TM_E_INVALIDARG;
inline constexpr HResult E_NOTIMPL = TM_E_NOTIMPL;
inline constexpr HResult E_NOINTERFACE = TM_E_NOINTERFACE;
inline constexpr HResult E_OUTOFMEMORY = TM_E_OUTOFMEMORY;
inline constexpr HResult E_END_OF_STREAM = TM_E_END_OF_STREAM;
inline constexpr HResult E_FILE_NOT_FOUND = TM_E_FILE_NOT_FOUND;
inline constexpr HResult E_ACCESS_DENIED = TM_E_ACCESS_DENIED;
inline constexpr HResult E_DISK_ERROR = TM_E_DISK_ERROR;
inline constexpr HResult E_DISK_FULL = TM_E_DISK_FULL;
inline constexpr HResult E_NAME_TOO_LONG = TM_E_NAME_TOO_LONG;
inline constexpr HResult E_FILE_TOO_LARGE = TM_E_FILE_TOO_LARGE;
inline constexpr HResult E_FILE_CHANGED = TM_E_FILE_CHANGED;
inline constexpr HResult E_CONTENT_MISMATCH = TM_E_CONTENT_MISMATCH;
inline constexpr HResult E_UNSUPPORTED_CONTENT = TM_E_UNSUPPORTED_CONTENT;
inline constexpr HResult E_DAMAGED_FILE = TM_E_DAMAGED_FILE;
inline constexpr HResult E_VERIFY_FAILED = TM_E_VERIFY_FAILED;
inline constexpr HResult E_OTHER_OWNER = TM_E_OTHER_OWNER;
inline constexpr HResult E_HARD_LINKED = TM_E_HARD_LINKED;
inline constexpr HResult E_ATTRIBUTES_LOST = TM_E_ATTRIBUTES_LOST;
inline constexpr HResult E_INTERRUPTED = TM_E_INTERRUPTED;
inline constexpr HResult E_NOT_A_NUMBER = TM_E_NOT_A_NUMBER;
inline constexpr HResult E_NOT_A_DATE = TM_E_NOT_A_DATE;
inline constexpr HResult E_TEXT_TOO_LONG = TM_E_TEXT_TOO_LONG;
inline constexpr HResult E_INVALID_TEXT = TM_E_INVALID_TEXT;

inline constexpr bool succeeded(HResult r) { return r >= 0; }
inline constexpr bool failed(HResult r) { return r < 0; }

inline constexpr TmGuid kIidDecoder = TM_IID_IDECODER;
inline constexpr TmGuid kIidTagger = TM_IID_ITAGGER;

inline constexpr bool sameGuid(const TmGuid& a, const TmGuid& b) {
    if (a.data1 != b.data1 || a.data2 != b.data2 || a.data3 != b.data3) {
        return false;
    }
    for (int i = 0; i < 8; ++i) {
        if (a.data4[i] != b.data4[i]) {
            return false;
        }
    }
    return true;
}

} // namespace tonemirror
#else
_Static_assert(sizeof(StreamFormat) == 8, "StreamFormat crosses the plug-in boundary");
_Static_assert(sizeof(StreamInfo) == 1544, "StreamInfo crosses the plug-in boundary");
#endif

#endif /* TONEMIRROR_PLUGIN_API_H */
