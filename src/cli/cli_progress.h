#pragma once
// The progress line of long transfers: bytes moved, items done and the
// rate, redrawn on standard error at most five times a second. Shown only
// when standard error is a terminal; scripts see nothing of it.

#include <chrono>
#include <cstdint>

#include "device/deviceio.h"

class ProgressLine {
public:
    explicit ProgressLine(bool enabled) : enabled_(enabled), start_(Clock::now()), last_(start_) {}
    ~ProgressLine() { Finish(); }

    bool Enabled() const { return enabled_; }
    void AddBytes(uint64_t n);
    void NextItem();
    // Ends a line drawn so far, so that a message can follow on a line of
    // its own; the counting goes on.
    void Break();
    // Ends the line with the final figures (when anything was moved) and
    // starts counting afresh.
    void Finish();

    uint64_t Bytes() const { return bytes_; }
    uint64_t Items() const { return items_; }

private:
    using Clock = std::chrono::steady_clock;
    void Draw(bool force);

    bool enabled_;
    bool drawn_ = false;
    uint64_t bytes_ = 0, items_ = 0;
    Clock::time_point start_, last_;
};

// A device that passes everything to the one it wraps and counts the bytes
// read and written into a progress line. Owns the wrapped device.
class CountingDevice : public DeviceIOIF {
public:
    CountingDevice(DeviceIOIF* inner, ProgressLine& progress) : inner_(inner), progress_(progress) {}

    const char* GetName() override { return inner_->GetName(); }
    const char* GetPath() override { return inner_->GetPath(); }
    bool IsReadOnly() override { return inner_->IsReadOnly(); }
    bool Read(int64_t offset, void* buffer, uint32_t length) override;
    bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override { return inner_->MakeReadOnly(); }
    void Destroy() override;

    DeviceIOIF* Inner() const { return inner_; }

private:
    DeviceIOIF* inner_;
    ProgressLine& progress_;
};
