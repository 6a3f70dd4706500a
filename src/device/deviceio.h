#pragma once
// A device: a flat array of bytes addressed by a 64-bit offset. It knows
// nothing of sectors, partitions or file systems. The seven operations and
// their order are the interface; plug-in devices implement the same table.

#include <cstdint>

class DeviceIOIF {
public:
    virtual const char* GetName() = 0;
    virtual const char* GetPath() = 0;
    virtual bool IsReadOnly() = 0;
    // True when exactly `length` bytes were read.
    [[nodiscard]] virtual bool Read(int64_t offset, void* buffer, uint32_t length) = 0;
    [[nodiscard]] virtual bool Write(int64_t offset, const void* buffer, uint32_t length) = 0;
    // True when the device is read-only afterwards.
    virtual bool MakeReadOnly() = 0;
    // Releases everything the device holds and frees the object itself.
    // A device is never deleted any other way.
    virtual void Destroy() = 0;
    // Makes every write so far durable before the caller goes on (the
    // order of writes across a power loss depends on it). Devices that do
    // not cache have nothing to do.
    [[nodiscard]] virtual bool Flush() { return true; }
    // Where `length` bytes at `offset` lie, when they lie back to back in
    // one host file that holds them all: its descriptor and the offset in
    // it. A reader may then take them from the file without a copy through
    // the device (the mount hands them to the kernel so). Writes never go
    // this way. Devices whose bytes are not laid out so say false.
    virtual bool FileSpan(int64_t offset, uint32_t length, int& fd, int64_t& fileOffset) {
        (void)offset, (void)length, (void)fd, (void)fileOffset;
        return false;
    }

protected:
    virtual ~DeviceIOIF() = default;
};

// Owns a device and destroys it through Destroy().
struct DeviceDestroyer {
    void operator()(DeviceIOIF* d) const {
        if (d) d->Destroy();
    }
};
