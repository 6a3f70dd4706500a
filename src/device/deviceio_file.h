#pragma once
// The built-in device: an image file, or a raw drive (a block device under
// /dev/, or a path with the "\\.\" prefix), which is always read-only and is
// read in whole 512-byte sectors.
//
// One writer at a time: an image opened for writing holds an exclusive
// advisory lock (flock) for as long as it is open; readers share a lock.
// Opening an image that another process holds is refused at once (1210).
// Only regular files and block devices are opened: a FIFO or a socket
// would block or never end (1215).

#include <string>

#include "device/deviceio.h"

class DeviceIO_File : public DeviceIOIF {
public:
    DeviceIO_File() = default;
    DeviceIO_File(const DeviceIO_File&) = delete;
    DeviceIO_File& operator=(const DeviceIO_File&) = delete;

    bool Open(const std::string& path);

    // Whether Open asks for writing. The command line opens the image only
    // for reading for commands that change nothing, so that they can run
    // side by side; everything else opens for writing.
    static void SetOpenForWriting(bool write) { openForWriting_ = write; }
    bool Close();

    const char* GetName() override { return "Built-in File I/O"; }
    const char* GetPath() override { return path_.c_str(); }
    bool IsReadOnly() override { return readOnly_; }
    bool Read(int64_t offset, void* buffer, uint32_t length) override;
    bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override;
    void Destroy() override { delete this; }
    bool Flush() override;
    // An image file (not a raw drive) whose bytes reach that far.
    bool FileSpan(int64_t offset, uint32_t length, int& fd, int64_t& fileOffset) override;

    bool IsRaw() const { return raw_; }
    uint32_t SectorSize() const { return sectorSize_; }

    // Number of write calls made to the host for the last Write (pieces).
    unsigned LastWritePieces() const { return lastWritePieces_; }

    static constexpr std::size_t kMaxPath = 259;

protected:
    ~DeviceIO_File() override;

private:
    // The path as the host understands it ("\\.\" taken off).
    std::string HostPath() const;

    int fd_ = -1;
    std::string path_;
    bool readOnly_ = false;
    bool raw_ = false;
    uint32_t sectorSize_ = 0;
    unsigned lastWritePieces_ = 0;
    bool dirty_ = false;
    static inline bool openForWriting_ = true;
};

// True for a path that names a raw drive: the "\\.\" prefix or a block device.
bool IsRawDrivePath(const std::string& path);
