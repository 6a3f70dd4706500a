#pragma once
// A device in front of another that counts the writes made through it and
// can make them go wrong: the N-th write fails once, every write from the
// N-th on fails, or the device stops after the N-th write as a power loss
// would (later writes are taken and never reach the bytes). FailFlush
// makes every flush fail, as a disk that cannot make its writes durable.

#include <map>
#include <string>
#include <vector>

#include "device/deviceio.h"
#include "support/images.h"

class FaultyDevice : public DeviceIOIF {
public:
    enum class Mode { Count, FailOnce, FailFrom, StopAfter, FailFlush };

    // Takes over `inner`.
    FaultyDevice(DeviceIOIF* inner, Mode mode, int n) : inner_(inner), mode_(mode), n_(n) {}

    const char* GetName() override { return inner_->GetName(); }
    const char* GetPath() override { return inner_->GetPath(); }
    bool IsReadOnly() override { return inner_->IsReadOnly(); }
    bool Read(int64_t offset, void* buffer, uint32_t length) override { return inner_->Read(offset, buffer, length); }
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        ++writes;
        switch (mode_) {
            case Mode::Count:
            case Mode::FailFlush: break;
            case Mode::FailOnce:
                if (writes == n_) return ++failed, false;
                break;
            case Mode::FailFrom:
                if (writes >= n_) return ++failed, false;
                break;
            case Mode::StopAfter:
                if (writes > n_) return true;  // lost with the power
                break;
        }
        return inner_->Write(offset, buffer, length);
    }
    bool MakeReadOnly() override { return inner_->MakeReadOnly(); }
    bool Flush() override {
        ++flushes;
        if (mode_ == Mode::FailFlush) return false;
        if (mode_ == Mode::StopAfter && writes > n_) return true;
        return inner_->Flush();
    }
    void Destroy() override {
        inner_->Destroy();
        delete this;
    }

    int writes = 0;   // write calls made, including failed and dropped ones
    int failed = 0;   // writes that were made to fail
    int flushes = 0;  // flushes asked for

private:
    DeviceIOIF* inner_;
    Mode mode_;
    int n_;
};

// Mounts the FAT volume of an image file behind a FaultyDevice; `device`
// receives the device (owned by the image).
Mounted MountFaulty(const std::string& path, FaultyDevice::Mode mode, int n, FaultyDevice** device,
                    uint32_t fileSystem = 0);

// What fsck.fat -n reports beyond lost clusters and a second FAT copy that
// lags behind the first (what a stop between the writes of the two copies
// leaves). With `movedNames`, the findings of an entry that stands in two
// folders after a stopped move (clusters shared by the two, a ".." that
// points at the other folder) are let through for paths ending in one of
// them. Empty when nothing else is reported.
// With `longChains`, a file whose chain is longer than its size (a stop
// between a chain's growth and its entry's new size) is let through too.
// With `labels`, the root's label and the boot sector's that differ (a stop
// between the two writes of a label change).
std::string FsckDamage(const std::string& path, const std::vector<std::string>& movedNames = {},
                       bool longChains = false, bool labels = false);

struct CheckResult;
// True when the volume checker found nothing but what a stop may leave:
// lost clusters and FAT copies a step apart; with `moved`, an entry in two
// folders; with `longChains`, chains longer than their files' sizes; with
// `labels`, the two labels differing.
bool OnlyWhatAStopLeaves(const CheckResult& r, bool moved, bool longChains, bool movedInFolder = false,
                         bool labels = false);

// Every file of the volume, by lower-case path ("sub/a.bin"), read by mtools.
std::map<std::string, std::vector<uint8_t>> FilesByMtools(const std::string& image);
