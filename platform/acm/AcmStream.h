#pragma once

#include "platform/acm/Acm.h"
#include "platform/acm/SourceRecord.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace tonemirror::acm {

// Where a conversion writes PCM: the caller's destination first, then the stream's held-back bytes.
class PcmSink {
public:
    PcmSink(std::uint8_t* destination, std::uint32_t capacity, std::vector<std::uint8_t>& overflow)
        : destination_(destination), capacity_(capacity), overflow_(overflow) {}

    void write(const void* data, std::size_t bytes);
    std::uint32_t produced() const { return produced_; }
    std::uint32_t space() const { return capacity_ - produced_; }
    bool full() const { return produced_ == capacity_; }

private:
    std::uint8_t* destination_;
    std::uint32_t capacity_;
    std::uint32_t produced_ = 0;
    std::vector<std::uint8_t>& overflow_;
};

// The decoding behind a stream. feed() takes source bytes, writes 16-bit PCM into the sink and
// tells how many source bytes it used; it stops using source once the sink's destination is full.
class Codec {
public:
    virtual ~Codec() = default;
    virtual MmResult feed(const std::uint8_t* source, std::uint32_t length, bool end, PcmSink& sink,
                          std::uint32_t& used) = 0;
    virtual std::uint32_t sourceForDestination(std::uint32_t destinationBytes) const = 0;
    virtual std::uint32_t destinationForSource(std::uint32_t sourceBytes) const = 0;
};

// Makes the codec for a checked source record; kNotPossible when the decoder cannot be opened.
MmResult makeCodec(const SourceRecord& record, std::unique_ptr<Codec>& out);

class Stream {
public:
    explicit Stream(std::unique_ptr<Codec> codec) : codec_(std::move(codec)) {}

    MmResult size(std::uint32_t input, std::uint32_t* output, std::uint32_t flags) const;
    MmResult convert(StreamHeader& header, std::uint32_t flags);

private:
    std::unique_ptr<Codec> codec_;
    std::vector<std::uint8_t> held_; // decoded PCM that did not fit the last destination
};

} // namespace tonemirror::acm
