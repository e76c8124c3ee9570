#include "audio/TagProblem.h"

#include <utility>

namespace tonemirror::audio {

namespace {

constexpr std::pair<HResult, TagProblem> kNamedResults[] = {
    {E_FILE_NOT_FOUND, TagProblem::NotFound},
    {E_ACCESS_DENIED, TagProblem::ReadOnly},
    {E_DISK_ERROR, TagProblem::DiskError},
    {E_DISK_FULL, TagProblem::DiskFull},
    {E_NAME_TOO_LONG, TagProblem::NameTooLong},
    {E_FILE_TOO_LARGE, TagProblem::FileTooLarge},
    {E_FILE_CHANGED, TagProblem::Changed},
    {E_CONTENT_MISMATCH, TagProblem::ContentMismatch},
    {E_UNSUPPORTED_CONTENT, TagProblem::UnsupportedContent},
    {E_DAMAGED_FILE, TagProblem::Damaged},
    {E_VERIFY_FAILED, TagProblem::VerifyFailed},
    {E_OTHER_OWNER, TagProblem::OtherOwner},
    {E_HARD_LINKED, TagProblem::HardLinked},
    {E_ATTRIBUTES_LOST, TagProblem::AttributesLost},
    {E_INTERRUPTED, TagProblem::Interrupted},
    {E_NOT_A_NUMBER, TagProblem::NotANumber},
    {E_NOT_A_DATE, TagProblem::NotADate},
    {E_TEXT_TOO_LONG, TagProblem::TextTooLong},
    {E_INVALID_TEXT, TagProblem::InvalidText},
};

} // namespace

TagProblem tagProblemFor(HResult result, TagProblem unnamed) {
    if (succeeded(result)) {
        return TagProblem::None;
    }
    for (const auto& [code, problem] : kNamedResults) {
        if (code == result) {
            return problem;
        }
    }
    return unnamed;
}

const char* describeTagProblem(TagProblem problem) {
    switch (problem) {
    case TagProblem::None:
        return "";
    case TagProblem::NotOpen:
        return "no file is open for tagging";
    case TagProblem::NoTagger:
        return "no codec plug-in can read or write the tags of this file";
    case TagProblem::NotFound:
        return "the file does not exist";
    case TagProblem::ReadOnly:
        return "the file or its folder is read-only";
    case TagProblem::DiskError:
        return "the disk reported a read or write error";
    case TagProblem::DiskFull:
        return "there is no space left on the disk";
    case TagProblem::NameTooLong:
        return "the file's name or folder path is too long";
    case TagProblem::FileTooLarge:
        return "the file would grow larger than the file system allows";
    case TagProblem::Changed:
        return "the file was changed by another program during the write";
    case TagProblem::ContentMismatch:
        return "the file's content is another format than its name says";
    case TagProblem::UnsupportedContent:
        return "the file's content is not an audio format whose tags this program reads and writes";
    case TagProblem::Damaged:
        return "the file's structure is damaged, and writing tags into it could make it unplayable";
    case TagProblem::VerifyFailed:
        return "the written copy did not read back with the same audio and the new tags";
    case TagProblem::OtherOwner:
        return "the file belongs to another user, who would no longer own it after the write";
    case TagProblem::HardLinked:
        return "the file has further names (hard links) that the write would separate from it";
    case TagProblem::AttributesLost:
        return "the file's group, access lists or extended attributes could not be kept";
    case TagProblem::Interrupted:
        return "the write was interrupted";
    case TagProblem::NotANumber:
        return "a track must be a number such as 7 or 7/12, at most 32767";
    case TagProblem::NotADate:
        return "a year must be written as 2021, 2021-05 or 2021-05-30";
    case TagProblem::TextTooLong:
        return "the text is longer than this file can store";
    case TagProblem::InvalidText:
        return "the text holds a NUL character or a broken character";
    case TagProblem::ValueRefused:
        return "this file cannot store that tag";
    case TagProblem::WriteFailed:
        return "the file could not be written";
    }
    return "";
}

} // namespace tonemirror::audio
