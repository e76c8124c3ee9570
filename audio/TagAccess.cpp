#include "audio/TagAccess.h"

#include "audio/AudioSource.h"

#include "audio/PluginList.h"

#include <algorithm>

namespace tonemirror::audio {

namespace {

const std::string kNoPlugin;

std::vector<TagAccess::Tagger> collectTaggers(const PluginList& plugins) {
    std::vector<TagAccess::Tagger> taggers;
    for (const auto& entry : plugins.entries()) {
        void* object = nullptr;
        if (succeeded(entry.getInterface(kIidTagger, &object)) && object != nullptr) {
            taggers.push_back({static_cast<ITagger*>(object), entry.name()});
        }
    }
    return taggers;
}

} // namespace

TagAccess::TagAccess(const PluginList& plugins) : TagAccess(collectTaggers(plugins)) {}

TagAccess::TagAccess(std::vector<Tagger> taggers) : taggers_(std::move(taggers)) {
    std::erase_if(taggers_, [](const Tagger& t) { return t.object == nullptr; });
    std::stable_sort(taggers_.begin(), taggers_.end(), [](const Tagger& a, const Tagger& b) {
        return a.object->vtbl->GetPriority(a.object) > b.object->vtbl->GetPriority(b.object);
    });
}

TagAccess::~TagAccess() {
    close();
    for (auto& t : taggers_) {
        t.object->vtbl->Release(t.object);
    }
}

HResult TagAccess::open(const std::u16string& path) {
    close();
    // The first tagger that names why it refused the file speaks for all.
    problem_ = TagProblem::NoTagger;
    if (refusedForReading(path)) {
        return E_FAIL;
    }
    for (const auto& t : taggers_) {
        const HResult r = t.object->vtbl->Open(t.object, path.c_str());
        if (succeeded(r)) {
            current_ = &t;
            problem_ = TagProblem::None;
            return S_OK;
        }
        if (problem_ == TagProblem::NoTagger) {
            problem_ = tagProblemFor(r, TagProblem::NoTagger);
        }
    }
    return E_FAIL;
}

HResult TagAccess::getTag(std::int32_t tag, char16_t* buffer, std::int32_t capacity) {
    if (current_ == nullptr) {
        return E_FAIL;
    }
    return current_->object->vtbl->GetTag(current_->object, tag, buffer, capacity);
}

std::optional<std::u16string> TagAccess::readTag(std::int32_t tag) {
    // A tagger cuts at capacity - 1 units, one fewer when that would split a surrogate pair.
    for (std::int32_t capacity = 1024; capacity <= kMaxTagText; capacity *= 2) {
        std::vector<char16_t> buffer(static_cast<std::size_t>(capacity));
        if (failed(getTag(tag, buffer.data(), capacity))) {
            return std::u16string();
        }
        buffer.back() = u'\0';
        std::u16string text(buffer.data());
        if (text.size() + 2 < static_cast<std::size_t>(capacity)) {
            return text;
        }
    }
    return std::nullopt;
}

HResult TagAccess::setTag(std::int32_t tag, const char16_t* text, std::int32_t length) {
    if (current_ == nullptr) {
        problem_ = TagProblem::NotOpen;
        return E_FAIL;
    }
    const HResult r = current_->object->vtbl->SetTag(current_->object, tag, text, length);
    problem_ = tagProblemFor(r, TagProblem::ValueRefused);
    return r;
}

HResult TagAccess::close() {
    if (current_ == nullptr) {
        return E_FAIL;
    }
    const Tagger* t = current_;
    current_ = nullptr;
    const HResult r = t->object->vtbl->Close(t->object);
    problem_ = tagProblemFor(r, TagProblem::WriteFailed);
    return r;
}

const std::string& TagAccess::currentPluginName() const {
    return current_ != nullptr ? current_->pluginName : kNoPlugin;
}

} // namespace tonemirror::audio
