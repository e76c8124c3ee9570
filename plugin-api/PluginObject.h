#pragma once

// Helpers for plug-in authors: expose a C++ class through the C slot tables of PluginApi.h.
// The implementation class needs these members (see PluginApi.h for their meaning):
//   decoder: HResult open(const char16_t*); HResult close(); HResult read(const void**, uint32_t*);
//            int32_t priority(); HResult info(StreamInfo*); HResult format(StreamFormat*);
//   tagger:  HResult open(const char16_t*); HResult close(); int32_t priority();
//            HResult getTag(int32_t, char16_t*, int32_t); HResult setTag(int32_t, const char16_t*, int32_t);
// Exceptions never cross the boundary: a slot that throws answers E_OUTOFMEMORY or E_FAIL.

#include "plugin-api/PluginApi.h"

#include <new>
#include <type_traits>
#include <utility>

namespace tonemirror::plugin {

template <class Fn>
HResult guarded(Fn&& fn) noexcept {
    try {
        return fn();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_FAIL;
    }
}

// The object handed across the boundary: the slot table first, then the implementation.
template <class Interface, class Impl>
struct Wrapped {
    Interface iface;
    Impl* impl;

    static Impl& of(Interface* self) { return *reinterpret_cast<Wrapped*>(self)->impl; }

    static void destroy(Interface* self) noexcept {
        auto* w = reinterpret_cast<Wrapped*>(self);
        delete w->impl;
        delete w;
    }
};

template <class Impl>
struct DecoderSlots {
    using W = Wrapped<IDecoder, Impl>;

    static void release(IDecoder* self) noexcept {
        (void)guarded([&] { return W::of(self).close(); });
        W::destroy(self);
    }
    static HResult open(IDecoder* self, const char16_t* path) noexcept {
        return guarded([&] { return W::of(self).open(path); });
    }
    static HResult close(IDecoder* self) noexcept {
        return guarded([&] { return W::of(self).close(); });
    }
    static HResult read(IDecoder* self, const void** data, uint32_t* bytes) noexcept {
        return guarded([&] { return W::of(self).read(data, bytes); });
    }
    static int32_t priority(IDecoder* self) noexcept { return W::of(self).priority(); }
    static HResult info(IDecoder* self, StreamInfo* out) noexcept {
        return guarded([&] { return W::of(self).info(out); });
    }
    static HResult format(IDecoder* self, StreamFormat* out) noexcept {
        return guarded([&] { return W::of(self).format(out); });
    }

    static constexpr IDecoderVtbl kTable = {&release, &open, &close, &read, &priority, &info, &format};
};

template <class Impl>
struct TaggerSlots {
    using W = Wrapped<ITagger, Impl>;

    static void release(ITagger* self) noexcept {
        (void)guarded([&] { return W::of(self).close(); });
        W::destroy(self);
    }
    static HResult open(ITagger* self, const char16_t* path) noexcept {
        return guarded([&] { return W::of(self).open(path); });
    }
    static HResult close(ITagger* self) noexcept {
        return guarded([&] { return W::of(self).close(); });
    }
    static int32_t priority(ITagger* self) noexcept { return W::of(self).priority(); }
    static HResult getTag(ITagger* self, int32_t tag, char16_t* buffer, int32_t capacity) noexcept {
        return guarded([&] { return W::of(self).getTag(tag, buffer, capacity); });
    }
    static HResult setTag(ITagger* self, int32_t tag, const char16_t* text, int32_t length) noexcept {
        return guarded([&] { return W::of(self).setTag(tag, text, length); });
    }

    static constexpr ITaggerVtbl kTable = {&release, &open, &close, &priority, &getTag, &setTag};
};

// Creates a fresh Impl behind the slot table of Interface; the answer GetInterface gives for it.
// Extra arguments go to Impl's constructor.
template <class Interface, class Impl, class... Args>
HResult createObject(void** object, Args&&... args) noexcept {
    if (object == nullptr) {
        return E_INVALIDARG;
    }
    *object = nullptr;
    Impl* impl = nullptr;
    try {
        impl = new Impl(std::forward<Args>(args)...);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    auto* w = new (std::nothrow) Wrapped<Interface, Impl>{};
    if (w == nullptr) {
        delete impl;
        return E_OUTOFMEMORY;
    }
    if constexpr (std::is_same_v<Interface, IDecoder>) {
        w->iface.vtbl = &DecoderSlots<Impl>::kTable;
    } else {
        w->iface.vtbl = &TaggerSlots<Impl>::kTable;
    }
    w->impl = impl;
    *object = &w->iface;
    return S_OK;
}

} // namespace tonemirror::plugin

// Declares the exported entry point with C linkage and default visibility.
#define TM_PLUGIN_EXPORT extern "C" __attribute__((visibility("default")))

// The plug-in's entry point (see PluginApi.h); each plug-in defines it once.
TM_PLUGIN_EXPORT TmResult GetInterface(TmGuid iid, void** object);
