// The mount's path operations over arbitrary bytes: every folder listed,
// every file read, then writes at offsets, truncations, renames, folders
// made and removed, as programs on a mounted image would do them.
#include <functional>
#include <string>
#include <vector>

#include "explorer/ops/mountops.h"
#include "fuzz_support.h"

namespace {

void Walk(VolumeFiles& f, const std::string& path, int depth, std::vector<std::string>& files) {
    if (depth > 6) return;
    std::vector<std::pair<std::string, NodeInfo>> entries;
    if (f.List(path, entries) != 0) return;
    for (const auto& [name, info] : entries) {
        std::string child = path + "/" + name;
        if (info.isDir) {
            Walk(f, child, depth + 1, files);
            continue;
        }
        files.push_back(child);
        uint64_t h;
        if (f.Open(child, false, h) != 0) continue;
        std::vector<char> buf(std::min<uint32_t>(info.size, 1u << 16) + 1);
        f.Read(h, 0, uint32_t(buf.size()), buf.data());
        std::vector<VolumeFiles::FileBytes> spans;
        f.ReadSpans(h, 1, uint32_t(buf.size()), spans, 8);
        f.Close(h);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    QuietInterface ui;
    ScopedUserInterface scope(&ui);
    DiskImage image;
    if (!MountBytes(data, size, kFileSystemDOS, image)) return 0;
    VolumeFiles f(image, false);
    std::vector<std::string> files;
    Walk(f, "", 0, files);
    std::vector<char> bytes(5000, 'x');
    uint64_t h;
    if (f.Create("/NEW.TXT", 0644, h) == 0) {
        f.Write(h, 100, bytes.data(), 3000);
        f.TruncateOpen(h, 50);
        f.Write(h, 4000, bytes.data(), 1000);
        f.Close(h);
    }
    for (std::size_t k = 0; k < files.size() && k < 4; ++k) {
        if (f.Open(files[k], true, h) == 0) {
            f.Write(h, 10, bytes.data(), 700);
            f.Close(h);
        }
        f.Truncate(files[k], 3);
        f.Rename(files[k], "/MOVED" + std::to_string(k), false);
    }
    f.MakeFolder("/FUZZDIR");
    f.Rename("/NEW.TXT", "/FUZZDIR/NEW.TXT", false);
    f.RemoveFile("/FUZZDIR/NEW.TXT");
    f.RemoveFolder("/FUZZDIR");
    for (std::size_t k = 0; k < files.size() && k < 4; ++k) f.RemoveFile("/MOVED" + std::to_string(k));
    return 0;
}
