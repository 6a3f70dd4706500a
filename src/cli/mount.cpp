// The FUSE bridge of voldex-cli mount: every request of the kernel is
// answered by the volume's path operations (explorer/ops/mountops), one at a
// time, on one thread.

#define FUSE_USE_VERSION 31
#include "cli/mount.h"

#include <fuse.h>

#include <cerrno>
#include <cstdio>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <unistd.h>

#include "cli/cli_ui.h"
#include "device/messages.h"
#include "explorer/ops/mountops.h"

namespace {

struct Mount {
    VolumeFiles* files;
    uid_t uid;
    gid_t gid;
    unsigned maxRead;  // -o max_read=N, which the answer to INIT must repeat (0: none)
};

// The largest request the kernel is asked to send: a megabyte, as the
// command line copies. Fewer, larger requests keep a copy through the
// mount near the speed of get and put.
constexpr unsigned kRequestBytes = 1u << 20;

// Pieces of the image file one reply is spliced from, at most.
constexpr std::size_t kMostSplicedPieces = 8;

Mount& M() { return *static_cast<Mount*>(fuse_get_context()->private_data); }
VolumeFiles& F() { return *M().files; }

void Fill(const NodeInfo& n, struct stat* st) {
    std::memset(st, 0, sizeof *st);
    mode_t perm = n.isDir ? 0755 : 0644;
    if (n.readOnly || F().IsReadOnly()) perm &= ~mode_t(0222);
    st->st_mode = (n.isDir ? S_IFDIR : S_IFREG) | perm;
    st->st_nlink = n.isDir ? 2 : 1;
    st->st_size = n.size;
    st->st_blocks = (off_t(n.size) + 511) / 512;
    st->st_blksize = kRequestBytes;  // programs that copy read and write this much at once
    st->st_uid = M().uid;
    st->st_gid = M().gid;
    st->st_mtime = st->st_atime = st->st_ctime = n.mtime;
}

void* OnInit(struct fuse_conn_info* conn, struct fuse_config* cfg) {
    // A removed file is removed at once, also while open: the volume has
    // no room for the hidden names FUSE would rename it to.
    cfg->hard_remove = 1;
    cfg->use_ino = 0;
    conn->max_write = kRequestBytes;
    // The kernel keeps its own read-ahead when that is smaller (128 KiB
    // unless raised for the mount, twice that for a reader that says it
    // reads in sequence, as cp does): a copy out comes in requests that big.
    conn->max_readahead = kRequestBytes;
    if (M().maxRead) conn->max_read = M().maxRead;
    if (conn->capable & FUSE_CAP_SPLICE_WRITE) conn->want |= FUSE_CAP_SPLICE_WRITE;
    // O_TRUNC arrives with the open (the default of libfuse 3, asked for
    // here all the same): the open empties the file.
    if (conn->capable & FUSE_CAP_ATOMIC_O_TRUNC) conn->want |= FUSE_CAP_ATOMIC_O_TRUNC;
    return fuse_get_context()->private_data;
}

void OnDestroy(void* data) {
    if (data) static_cast<Mount*>(data)->files->SyncAll();
}

int OnGetattr(const char* path, struct stat* st, struct fuse_file_info*) {
    NodeInfo n;
    if (int rc = F().Stat(path, n); rc < 0) return rc;
    Fill(n, st);
    return 0;
}

int OnReaddir(const char* path, void* buf, fuse_fill_dir_t filler, off_t, struct fuse_file_info*,
              enum fuse_readdir_flags) {
    std::vector<std::pair<std::string, NodeInfo>> entries;
    if (int rc = F().List(path, entries); rc < 0) return rc;
    filler(buf, ".", nullptr, 0, fuse_fill_dir_flags(0));
    filler(buf, "..", nullptr, 0, fuse_fill_dir_flags(0));
    for (const auto& [name, info] : entries) {
        struct stat st;
        Fill(info, &st);
        if (filler(buf, name.c_str(), &st, 0, FUSE_FILL_DIR_PLUS)) break;
    }
    return 0;
}

// A handle that only writes sends its data straight from the writer's
// buffer, past the kernel's cache: one copy less, and each write reaches
// the volume as it does through the cache. Such a handle cannot be mapped.
// The kernel drops the pages such a write covers only from 6.6 on, so it
// is done only there, and only while no other handle caches the file;
// handles opened beside it go past the cache too (see PastTheCache). Its
// open drops what the kernel held of the file before.
bool KernelDropsPagesWrittenPastTheCache() {
    struct utsname u;
    unsigned major = 0, minor = 0;
    return uname(&u) == 0 && std::sscanf(u.release, "%u.%u", &major, &minor) == 2 &&
           (major > 6 || (major == 6 && minor >= 6));
}

void PastTheCacheWhereSafe(struct fuse_file_info* fi) {
    static const bool kernelDrops = KernelDropsPagesWrittenPastTheCache();
    if (kernelDrops && F().PastTheCache(fi->fh, (fi->flags & O_ACCMODE) == O_WRONLY)) fi->direct_io = 1;
}

int OnOpen(const char* path, struct fuse_file_info* fi) {
    uint64_t h;
    bool write = (fi->flags & O_ACCMODE) != O_RDONLY;
    bool keep = false;
    if (int rc = F().Open(path, write, h, (fi->flags & O_TRUNC) != 0, &keep); rc < 0) return rc;
    fi->fh = h;
    // A file whose entry has not changed since it was last read keeps what
    // the kernel holds of it.
    fi->keep_cache = keep ? 1 : 0;
    PastTheCacheWhereSafe(fi);
    return 0;
}

int OnCreate(const char* path, mode_t mode, struct fuse_file_info* fi) {
    uint64_t h;
    if (int rc = F().Create(path, mode, h); rc < 0) return rc;
    fi->fh = h;
    PastTheCacheWhereSafe(fi);
    return 0;
}

// The bytes of a file, where the image file holds them back to back, are
// handed to the kernel as places in that file: libfuse splices them from
// the host's cache into the reply, without a copy through this process.
int OnReadBuf(const char*, struct fuse_bufvec** bufp, size_t size, off_t off, struct fuse_file_info* fi) {
    if (off < 0) return -EINVAL;
    const uint32_t want = uint32_t(std::min<size_t>(size, 1u << 30));
    std::vector<VolumeFiles::FileBytes> spans;
    // A file in many small pieces would fill libfuse's pipe before the
    // reply is whole: it is read here instead.
    long n = F().ReadSpans(fi->fh, uint64_t(off), want, spans, kMostSplicedPieces);
    if (n < 0) return int(n);
    const std::size_t count = std::max<std::size_t>(1, spans.size());
    auto* v = static_cast<struct fuse_bufvec*>(std::calloc(1, sizeof(struct fuse_bufvec) + count * sizeof(struct fuse_buf)));
    if (!v) return -ENOMEM;
    v->count = count;
    if (n > 0 && spans.empty()) {
        // A device that cannot say where its bytes lie: read them here.
        void* mem = std::malloc(want);
        if (!mem) {
            std::free(v);
            return -ENOMEM;
        }
        n = F().Read(fi->fh, uint64_t(off), want, static_cast<char*>(mem));
        if (n < 0) {
            std::free(mem);
            std::free(v);
            return int(n);
        }
        v->buf[0].mem = mem;
        v->buf[0].size = std::size_t(n);
    }
    for (std::size_t i = 0; i < spans.size(); ++i) {
        v->buf[i].flags = fuse_buf_flags(FUSE_BUF_IS_FD | FUSE_BUF_FD_SEEK);
        v->buf[i].fd = spans[i].fd;
        v->buf[i].pos = spans[i].at;
        v->buf[i].size = spans[i].length;
    }
    *bufp = v;
    return 0;
}

int OnWrite(const char*, const char* buf, size_t size, off_t off, struct fuse_file_info* fi) {
    if (off < 0) return -EINVAL;
    return int(F().Write(fi->fh, uint64_t(off), buf, uint32_t(std::min<size_t>(size, 1u << 30))));
}

int OnTruncate(const char* path, off_t size, struct fuse_file_info* fi) {
    if (size < 0) return -EINVAL;
    return fi ? F().TruncateOpen(fi->fh, uint64_t(size)) : F().Truncate(path, uint64_t(size));
}

// close(2) returns what flush says; the result of release reaches no one
// (a failure there is kept for the unmount's status).
int OnFlush(const char*, struct fuse_file_info* fi) { return F().FlushOpen(fi->fh); }
int OnRelease(const char*, struct fuse_file_info* fi) { return F().Close(fi->fh); }
int OnFsync(const char*, int, struct fuse_file_info* fi) { return F().Sync(fi->fh); }
int OnMkdir(const char* path, mode_t) { return F().MakeFolder(path); }
int OnUnlink(const char* path) { return F().RemoveFile(path); }
int OnRmdir(const char* path) { return F().RemoveFolder(path); }

int OnRename(const char* from, const char* to, unsigned int flags) {
    if (flags & ~unsigned(RENAME_NOREPLACE)) return -EINVAL;  // no exchange
    return F().Rename(from, to, (flags & RENAME_NOREPLACE) != 0);
}

int OnUtimens(const char* path, const struct timespec tv[2], struct fuse_file_info*) {
    if (tv && tv[1].tv_nsec == UTIME_OMIT) return 0;
    time_t when = (!tv || tv[1].tv_nsec == UTIME_NOW) ? time(nullptr) : tv[1].tv_sec;
    return F().SetTime(path, when);
}

// The owner's write bit is the entry's read-only mark; the other bits
// have no place on the volume.
int OnChmod(const char* path, mode_t mode, struct fuse_file_info*) {
    return F().SetReadOnly(path, (mode & S_IWUSR) == 0);
}

int OnChown(const char*, uid_t uid, gid_t gid, struct fuse_file_info*) {
    bool same = (uid == uid_t(-1) || uid == M().uid) && (gid == gid_t(-1) || gid == M().gid);
    return same ? 0 : -EPERM;
}

int OnStatfs(const char*, struct statvfs* sv) {
    VolumeFigures f = F().Figures();
    std::memset(sv, 0, sizeof *sv);
    sv->f_bsize = sv->f_frsize = f.clusterSize;
    sv->f_blocks = f.clusters;
    sv->f_bfree = sv->f_bavail = f.freeClusters;
    sv->f_namemax = f.nameMax;
    if (F().IsReadOnly()) sv->f_flag |= ST_RDONLY;
    return 0;
}


// A value inside a FUSE option list: commas and backslashes escaped.
std::string OptionValue(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == ',' || c == '\\') out += '\\';
        out += c;
    }
    return out;
}

}  // namespace

namespace {

// Calls fn(option) for each option of the -o groups, in order; true as soon
// as fn says so.
template <typename F>
bool AnyMountOption(const std::vector<std::string>& given, F fn) {
    for (const std::string& group : given) {
        std::size_t at = 0;
        while (at <= group.size()) {
            std::size_t comma = group.find(',', at);
            if (comma == std::string::npos) comma = group.size();
            if (fn(group.substr(at, comma - at))) return true;
            at = comma + 1;
        }
    }
    return false;
}

}  // namespace

bool HasMountOption(const std::vector<std::string>& given, const std::string& wanted) {
    return AnyMountOption(given, [&](const std::string& option) { return option == wanted; });
}

int CmdMount(DiskImage& image, const CliOptions& o, CliInterface* ui) {
    // The full path: the program leaves its working folder when it goes to
    // the background, and unmounts by this path at the end.
    struct stat st;
    char full[PATH_MAX];
    if (stat(o.operands[1].c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !realpath(o.operands[1].c_str(), full)) {
        ShowMessage(stat(o.operands[1].c_str(), &st) == 0 && !S_ISDIR(st.st_mode) ? 2151 : 1381, o.operands[1]);
        return 1;
    }
    const std::string mountPoint = full;
    std::string imagePath = image.Device()->GetPath();
    if (realpath(imagePath.c_str(), full)) imagePath = full;
    bool readOnly = HasMountOption(o.mountOptions, "ro");
    if (!readOnly && image.IsReadOnly()) {
        // FAT32 volumes and image files that open only for reading.
        ShowMessage(1380, imagePath);
        readOnly = true;
    }
    VolumeFiles files(image, readOnly);
    // The image stays locked by the file device against other writers for
    // as long as it is open; written data reach the disk through it.
    files.flusher = [&image] { return image.Flush(); };
    Mount mount{&files, getuid(), getgid(), 0};
    AnyMountOption(o.mountOptions, [&](const std::string& option) {
        if (option.compare(0, 9, "max_read=") == 0) mount.maxRead = unsigned(std::strtoul(option.c_str() + 9, nullptr, 10));
        return false;
    });

    struct fuse_operations ops = {};
    ops.init = OnInit;
    ops.destroy = OnDestroy;
    ops.getattr = OnGetattr;
    ops.readdir = OnReaddir;
    ops.open = OnOpen;
    ops.create = OnCreate;
    ops.read_buf = OnReadBuf;
    ops.write = OnWrite;
    ops.truncate = OnTruncate;
    ops.flush = OnFlush;
    ops.release = OnRelease;
    ops.fsync = OnFsync;
    ops.mkdir = OnMkdir;
    ops.unlink = OnUnlink;
    ops.rmdir = OnRmdir;
    ops.rename = OnRename;
    ops.utimens = OnUtimens;
    ops.chmod = OnChmod;
    ops.chown = OnChown;
    ops.statfs = OnStatfs;

    std::vector<std::string> argv{"voldex-cli", "-o",
                                  "fsname=" + OptionValue(imagePath) + ",subtype=voldex,default_permissions"};
    if (readOnly) argv.insert(argv.end(), {"-o", "ro"});
    for (const std::string& opt : o.mountOptions) argv.insert(argv.end(), {"-o", opt});
    std::vector<char*> cargv;
    for (std::string& a : argv) cargv.push_back(a.data());
    struct fuse_args args = FUSE_ARGS_INIT(int(cargv.size()), cargv.data());

    struct fuse* fuse = fuse_new(&args, &ops, sizeof ops, &mount);
    fuse_opt_free_args(&args);
    if (!fuse) {
        ShowMessage(1383, mountPoint);
        return 1;
    }
    if (fuse_mount(fuse, mountPoint.c_str()) != 0) {
        fuse_destroy(fuse);
        ShowMessage(1383, mountPoint);
        return 1;
    }
    int rc = 0;
    const bool daemonized = fuse_daemonize(o.foreground ? 1 : 0) == 0;
    if (daemonized && !o.foreground && ui) ui->toSystemLog = true;
    if (!daemonized || fuse_set_signal_handlers(fuse_get_session(fuse)) != 0) {
        rc = 1;
    } else {
        // One request at a time: the volume engine is not shared between threads.
        int loop = fuse_loop(fuse);
        if (loop != 0 && loop != SIGINT && loop != SIGTERM && loop != SIGHUP && loop != -SIGINT &&
            loop != -SIGTERM && loop != -SIGHUP)
            rc = 1;
        fuse_remove_signal_handlers(fuse_get_session(fuse));
    }
    fuse_unmount(fuse);
    fuse_destroy(fuse);  // flushes through OnDestroy
    if (files.SyncAll() != 0) {
        ShowMessage(1384, imagePath);
        rc = 1;
    }
    return rc;
}

int CmdMount(CliContext& c) { return CmdMount(*c.image, c.options, &c.ui); }
