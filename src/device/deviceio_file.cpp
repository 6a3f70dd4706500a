#include "device/deviceio_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device/messages.h"

namespace {

constexpr uint32_t kRawSectorSize = 512;
constexpr uint32_t kPieceThreshold = 65535;
constexpr uint32_t kPieceSize = 1024;

bool HasRawPrefix(const std::string& path) { return path.compare(0, 4, "\\\\.\\") == 0; }

// Reads exactly `length` bytes at `offset`; a short read at the end of the
// file counts as an I/O error.
bool ReadExact(int fd, int64_t offset, void* buffer, std::size_t length) {
    auto* p = static_cast<char*>(buffer);
    while (length > 0) {
        ssize_t n = pread(fd, p, length, offset);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        p += n;
        offset += n;
        length -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool IsRawDrivePath(const std::string& path) {
    if (HasRawPrefix(path)) return true;
    if (path.compare(0, 5, "/dev/") != 0) return false;
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISBLK(st.st_mode);
}

DeviceIO_File::~DeviceIO_File() { Close(); }

std::string DeviceIO_File::HostPath() const { return HasRawPrefix(path_) ? path_.substr(4) : path_; }

bool DeviceIO_File::Open(const std::string& path) {
    if (fd_ >= 0) {
        ShowMessage(601);
        return false;
    }
    if (path.size() > kMaxPath) {
        ShowSystemError(ENAMETOOLONG);
        ShowMessage(602, path);
        return false;
    }
    path_ = path;
    raw_ = false;
    readOnly_ = false;
    dirty_ = false;
    // O_NONBLOCK keeps the open of a FIFO from waiting for a writer; the
    // file is checked for its kind before anything is read.
    const int flags = O_CLOEXEC | O_NONBLOCK;
    if (IsRawDrivePath(path)) {
        raw_ = true;
        sectorSize_ = kRawSectorSize;
    } else if (openForWriting_) {
        fd_ = ::open(HostPath().c_str(), O_RDWR | flags);
    }
    if (fd_ < 0) {
        fd_ = ::open(HostPath().c_str(), O_RDONLY | flags);
        if (fd_ < 0) {
            ShowSystemError();
            ShowMessage(602, path);
            return false;
        }
        readOnly_ = true;
    }
    struct stat st;
    if (fstat(fd_, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISBLK(st.st_mode))) {
        ::close(fd_);
        fd_ = -1;
        ShowMessage(1215, path);
        return false;
    }
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    if (flock(fd_, (readOnly_ ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
        int err = errno;
        ::close(fd_);
        fd_ = -1;
        if (err == EWOULDBLOCK && !readOnly_ && UI().OfferReadOnly(path)) {
            // Read beside the writer, without a lock of its own.
            fd_ = ::open(HostPath().c_str(), O_RDONLY | O_CLOEXEC);
            if (fd_ >= 0) {
                readOnly_ = true;
                return true;
            }
            ShowSystemError();
            ShowMessage(602, path);
        } else if (err == EWOULDBLOCK) {
            ShowMessage(1210, path);
        } else {
            ShowSystemError(err);
            ShowMessage(602, path);
        }
        return false;
    }
    // Opened for reading only although writing was asked for.
    if (readOnly_ && openForWriting_) ShowMessage(603, path);
    return true;
}

bool DeviceIO_File::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    return true;
}

bool DeviceIO_File::Read(int64_t offset, void* buffer, uint32_t length) {
    if (fd_ < 0 || offset < 0) {
        ShowSystemError(fd_ < 0 ? EBADF : EINVAL);
        return false;
    }
    if (!raw_) {
        if (ReadExact(fd_, offset, buffer, length)) return true;
        ShowSystemErrorDuring(kWhileReading, path_);
        return false;
    }
    // Raw drives move whole sectors into an aligned buffer.
    std::size_t n = (static_cast<std::size_t>(length) + sectorSize_ - 1) / sectorSize_ * sectorSize_;
    void* transfer = nullptr;
    if (posix_memalign(&transfer, 4096, n ? n : sectorSize_) != 0) {
        ShowSystemError(ENOMEM);
        return false;
    }
    bool ok = ReadExact(fd_, offset, transfer, n);
    int err = errno;
    if (ok) std::memcpy(buffer, transfer, length);
    std::free(transfer);
    if (!ok) ShowSystemErrorDuring(kWhileReading, path_, err);
    return ok;
}

bool DeviceIO_File::Write(int64_t offset, const void* buffer, uint32_t length) {
    lastWritePieces_ = 0;
    if (readOnly_) return false;
    if (fd_ < 0 || offset < 0) {
        ShowSystemError(fd_ < 0 ? EBADF : EINVAL);
        return false;
    }
    const char* p = static_cast<const char*>(buffer);
    // Large writes go in pieces of 1 KiB; smaller ones in one call.
    uint32_t piece = length > kPieceThreshold ? kPieceSize : length;
    uint32_t total = 0;
    do {
        uint32_t want = std::min(piece, length - total);
        ssize_t n = pwrite(fd_, p + total, want, offset + total);
        ++lastWritePieces_;
        if (n < 0) {
            if (errno == EINTR) continue;
            ShowSystemErrorDuring(kWhileWriting, path_);
            return false;
        }
        if (n == 0 && want > 0) {
            ShowSystemErrorDuring(kWhileWriting, path_, EIO);
            return false;
        }
        total += static_cast<uint32_t>(n);
        dirty_ = true;
    } while (total < length);
    return true;
}

bool DeviceIO_File::FileSpan(int64_t offset, uint32_t length, int& fd, int64_t& fileOffset) {
    struct stat st;
    // A span beyond the file's end would reach the reader short.
    if (fd_ < 0 || raw_ || offset < 0 || fstat(fd_, &st) != 0 || offset + int64_t(length) > st.st_size) return false;
    fd = fd_;
    fileOffset = offset;
    return true;
}

bool DeviceIO_File::Flush() {
    if (fd_ < 0 || readOnly_ || !dirty_) return true;
    if (fdatasync(fd_) != 0) {
        ShowSystemErrorDuring(kWhileSaving, path_);
        return false;
    }
    dirty_ = false;
    return true;
}

bool DeviceIO_File::MakeReadOnly() {
    if (fd_ < 0) return false;
    if (readOnly_) return true;
    if (!Flush()) return false;
    int fd = ::open(HostPath().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ShowMessage(604);
        return false;
    }
    // The lock goes from exclusive to shared: other readers may come in.
    flock(fd_, LOCK_SH);
    ::close(fd_);
    fd_ = fd;
    flock(fd_, LOCK_SH | LOCK_NB);
    readOnly_ = true;
    return true;
}
