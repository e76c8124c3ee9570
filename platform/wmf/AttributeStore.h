#pragma once

#include "platform/wmf/Runtime.h"

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tonemirror::wmf {

// File-level attributes held in memory: what a reader or an editor hands out as IHeaderInfo.
// Only names listed as writable can be set, and only as strings that pass the store's check (a value
// the check refuses leaves the old one); every change is remembered.
class AttributeStore final : public IHeaderInfo {
public:
    struct Value {
        AttrType type = AttrType::String;
        std::vector<std::uint8_t> bytes;
    };
    // S_OK, or the failure setAttribute answers for that text.
    using Check = std::function<HResult(const std::u16string& name, std::u16string_view text)>;

    AttributeStore() = default;
    explicit AttributeStore(std::set<std::u16string> writableNames, Check check = {})
        : writable_(std::move(writableNames)), check_(std::move(check)) {}

    HResult getAttributeByName(std::uint16_t* streamNumber, const char16_t* name, AttrType* type,
                               std::uint8_t* value, std::uint16_t* length) override;
    HResult setAttribute(std::uint16_t streamNumber, const char16_t* name, AttrType type,
                         const std::uint8_t* value, std::uint16_t length) override;

    // Stored as UTF-16LE, with a terminating NUL where the 16-bit byte length leaves room for one.
    // Longer texts are cut, never inside a surrogate pair.
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
    Check check_;
    std::set<std::u16string> changed_;
};

// UTF-16LE bytes to text, up to the first NUL.
std::u16string textFromBytes(const std::uint8_t* bytes, std::size_t length);

} // namespace tonemirror::wmf
