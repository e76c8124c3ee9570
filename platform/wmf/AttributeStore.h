#pragma once

#include "platform/wmf/Runtime.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::wmf {

// File-level attributes held in memory: what a reader or an editor hands out as IHeaderInfo.
// Only names listed as writable can be set, and only as strings; every change is remembered.
class AttributeStore final : public IHeaderInfo {
public:
    struct Value {
        AttrType type = AttrType::String;
        std::vector<std::uint8_t> bytes;
    };

    AttributeStore() = default;
    explicit AttributeStore(std::set<std::u16string> writableNames) : writable_(std::move(writableNames)) {}

    HResult getAttributeByName(std::uint16_t* streamNumber, const char16_t* name, AttrType* type,
                               std::uint8_t* value, std::uint16_t* length) override;
    HResult setAttribute(std::uint16_t streamNumber, const char16_t* name, AttrType type,
                         const std::uint8_t* value, std::uint16_t length) override;

    // Stored as UTF-16LE with a terminating NUL. Texts too long for a 16-bit byte length are cut.
    void putString(const std::u16string& name, std::u16string_view text);
    void putDword(const std::u16string& name, std::uint32_t value);
    void putQword(const std::u16string& name, std::uint64_t value);
    void remove(const std::u16string& name) { values_.erase(name); }

    bool contains(const std::u16string& name) const { return values_.contains(name); }
    // The text of a string attribute up to its first NUL; empty when absent or not a string.
    std::u16string stringValue(const std::u16string& name) const;

    // Names set through setAttribute since construction or the last clearChanges.
    const std::set<std::u16string>& changedNames() const { return changed_; }
    void clearChanges() { changed_.clear(); }

private:
    std::map<std::u16string, Value> values_;
    std::set<std::u16string> writable_;
    std::set<std::u16string> changed_;
};

// UTF-16LE bytes to text, up to the first NUL.
std::u16string textFromBytes(const std::uint8_t* bytes, std::size_t length);

} // namespace tonemirror::wmf
