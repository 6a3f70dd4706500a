#pragma once
// What every fuzz target shares: a device over the input bytes and a user
// interface that answers every question without a window.

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "device/deviceio.h"
#include "device/userinterface.h"
#include "opening/hddpart.h"
#include "volume/diskimage.h"
#include "volume/volumeparams.h"

class BytesDevice : public DeviceIOIF {
public:
    BytesDevice(const uint8_t* data, std::size_t size) : bytes_(data, data + size) {}
    const char* GetName() override { return "bytes"; }
    const char* GetPath() override { return "fuzz.img"; }
    bool IsReadOnly() override { return readOnly_; }
    bool Read(int64_t offset, void* buffer, uint32_t length) override {
        if (offset < 0 || uint64_t(offset) + length > bytes_.size()) return false;
        if (length) std::memcpy(buffer, bytes_.data() + offset, length);
        return true;
    }
    bool Write(int64_t offset, const void* buffer, uint32_t length) override {
        if (readOnly_ || offset < 0 || uint64_t(offset) + length > bytes_.size()) return false;
        if (length) std::memcpy(bytes_.data() + offset, buffer, length);
        return true;
    }
    bool MakeReadOnly() override {
        readOnly_ = true;
        return true;
    }
    void Destroy() override { delete this; }

private:
    std::vector<uint8_t> bytes_;
    bool readOnly_ = false;
};

// Answers OK once to the disk-type question, then Cancel; takes the first
// partition; says nothing.
class QuietInterface : public UserInterface {
public:
    int ShowBox(const std::string&, const std::string&, int) override { return kIdNo; }
    OverwriteAnswer AskOverwrite(const std::string&, const SystemTime&, const std::string&, const SystemTime&) override {
        return owNo;
    }
    bool ShowDiskTypeDialog(const std::string&, const std::vector<std::string>&, int&) override {
        return typeQuestions++ == 0;
    }
    int ShowPartitionDialog(THDDPartDialog& dialog, bool) override { return dialog.Rows.empty() ? -1 : 0; }
    int typeQuestions = 0;
};

// Mounts the input bytes as a volume of `fileSystem` into `image`. Huge
// claimed volumes are refused, to keep the work per input small.
inline bool MountBytes(const uint8_t* data, std::size_t size, uint32_t fileSystem, DiskImage& image) {
    VolumeParams p;
    p.Device = new BytesDevice(data, size);
    p.FileSystem = fileSystem;
    if (DecodeBootRecord(p) != BootOk || uint64_t(p.ClustersCount) > (1u << 20) || p.ClusterSize > (1u << 16)) {
        p.Device->Destroy();
        return false;
    }
    return image.Mount(p);
}
