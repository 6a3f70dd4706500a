#include "floppy/makefdd.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "device/deviceio_file.h"
#include "device/messages.h"
#include "opening/convert.h"
#include "opening/detect.h"

const std::vector<FloppyFormat>& FloppyFormats() {
    static const std::vector<FloppyFormat> formats = {
        {80, 2, 18, 512}, {77, 2, 8, 1024}, {80, 2, 9, 512}, {80, 2, 8, 512}};
    return formats;
}

int FloppyFormatBySize(uint32_t kb) {
    const auto& f = FloppyFormats();
    for (std::size_t k = 0; k < f.size(); ++k)
        if (f[k].ShownSize() == kb) return int(k);
    return -1;
}

std::string ImageFileName(const std::string& typed) {
    return typed.find('.') == std::string::npos ? typed + ".disk" : typed;
}

std::vector<std::string> ListFloppyDrives() {
    std::vector<std::string> drives;
    if (DIR* d = opendir("/sys/block")) {
        while (dirent* e = readdir(d)) {
            std::string name = e->d_name;
            if (name.empty() || name[0] == '.') continue;
            std::ifstream removable("/sys/block/" + name + "/removable");
            int flag = 0;
            removable >> flag;
            if (name.rfind("fd", 0) == 0 || (flag == 1 && name.rfind("sr", 0) != 0)) drives.push_back("/dev/" + name);
        }
        closedir(d);
    }
    std::sort(drives.begin(), drives.end());
    return drives;
}

namespace {

// Reads exactly n bytes; false on an error or a short read.
bool ReadTrack(int fd, uint8_t* p, std::size_t n) {
    while (n > 0) {
        ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= std::size_t(r);
    }
    return true;
}

}  // namespace

namespace {

// The container a source file is, when it is one (a copy of its bytes
// would carry the headers along and be no disk): empty for a drive or a
// plain dump.
std::string SourceContainer(const std::string& source) {
    struct stat st;
    if (IsRawDrivePath(source) || stat(source.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
    auto* file = new DeviceIO_File;
    std::unique_ptr<DeviceIOIF, DeviceDestroyer> owner(file);
    if (!file->Open(source)) return "";
    std::string kind;
    const uint64_t size = uint64_t(st.st_size);
    if (OpenFloppySource(file, size, 0, &kind)) return kind == "Plain" ? "" : kind;
    std::vector<uint8_t> head(std::min<uint64_t>(size, 4096));
    if (head.empty() || !file->Read(0, head.data(), uint32_t(head.size()))) return "";
    for (const HardDiskContainerFormat& f : HardDiskContainerFormats())
        if (std::string(f.kind) != "Plain" && f.probe(head.data(), head.size(), size)) return f.kind;
    return "";
}

}  // namespace

bool MakeFloppyImage(const std::string& source, const std::string& output, int format,
                     const std::function<void(uint32_t, uint32_t)>& progress) {
    if (output.empty()) {
        ShowMessage(701);
        return false;
    }
    if (source.empty()) {
        ShowMessage(702);
        return false;
    }
    if (format < 0 || std::size_t(format) >= FloppyFormats().size()) {
        ShowMessage(703);
        return false;
    }
    // The source itself is never the output: replacing it would destroy
    // the very data being read.
    struct stat out, in;
    bool exists = stat(output.c_str(), &out) == 0;
    if (exists && stat(source.c_str(), &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
        ShowMessage(1282, output);
        return false;
    }
    if (std::string kind = SourceContainer(source); !kind.empty()) {
        ShowMessage(1971, source, kind);
        return false;
    }
    if (exists && AskMessage(704, kBoxYesNoQuestion, output) != kIdYes) return false;
    // The image is written to a new file beside the output and takes the
    // output's name only once it is complete: a failed read leaves an
    // existing file as it was, and only the file made here is removed.
    std::string partial = output + ".partXXXXXX";
    int outFd = mkstemp(partial.data());
    FILE* file = outFd >= 0 ? fdopen(outFd, "wb") : nullptr;
    if (!file) {
        if (outFd >= 0) {
            ::close(outFd);
            std::remove(partial.c_str());
        }
        ShowMessage(711, output);
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    fchmod(outFd, 0666 & ~mask);
    const FloppyFormat& f = FloppyFormats()[std::size_t(format)];
    bool ok = false;
    int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        AskMessage(710, kBoxStop);
    } else {
        std::vector<uint8_t> track(f.TrackBytes(), 0);
        ok = true;
        for (uint32_t k = 0; k < f.Tracks(); ++k) {
            if (!ReadTrack(fd, track.data(), track.size())) {
                AskMessage(709, kBoxStop);
                ok = false;
                break;
            }
            if (std::fwrite(track.data(), 1, track.size(), file) != track.size()) {
                ShowMessage(711, output);
                ok = false;
                break;
            }
            if (progress) progress(k, f.Tracks());
        }
        ::close(fd);
    }
    if ((std::fflush(file) != 0 || fsync(fileno(file)) != 0) && ok) {
        ShowMessage(711, output);
        ok = false;
    }
    if (std::fclose(file) != 0 && ok) {
        ShowMessage(711, output);
        ok = false;
    }
    if (ok && std::rename(partial.c_str(), output.c_str()) != 0) {
        ShowMessage(711, output);
        ok = false;
    }
    if (ok) {
        ShowMessage(706);
    } else {
        std::remove(partial.c_str());
    }
    if (progress) progress(0, f.Tracks());
    return ok;
}
