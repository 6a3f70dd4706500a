// Times the main window on a folder of 5,000 entries: select all, then a
// column click (the sort keeps the selection), as a user does it.
//   build/window_sort_bench [ENTRIES]
// Runs under the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <time.h>
#include <vector>

#include "explorer/ops/tempfolder.h"
#include "explorer/window/tvoldex.h"
#include "opening/diskopen.h"
#include "volume/didir.h"

namespace {

// A scripted window: no question is asked.
class QuietWindow : public TVoldex {
public:
    int ShowBox(const std::string& text, const std::string&, int) override {
        std::fprintf(stderr, "box: %s\n", text.c_str());
        return kIdOk;
    }
    std::optional<std::string> ChooseImageFile() override { return std::nullopt; }
};

double Ms(QElapsedTimer& t) { return double(t.nsecsElapsed()) / 1e6; }

// Processor time of this thread, in ms: what the work costs, whatever else
// the machine is doing meanwhile.
double CpuMs() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1e3 + double(ts.tv_nsec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    int entries = argc > 1 ? std::atoi(argv[1]) : 5000;
    std::string work = MakeTempFolder();
    std::string image = work + "/big.img";
    qputenv("VOLDEX_HOME", work.c_str());
    if (std::system(("mkfs.fat -C -F 16 " + image + " 65536 >/dev/null").c_str()) != 0) return 1;

    // The folder BIG with `entries` files of different sizes and times.
    uint32_t big = 0;
    {
        VolumeParams p;
        TDiskOpener opener(std::vector<DISKPROFILE>{});
        PendingOpeningOptions() = {std::nullopt, true};
        if (!DetectAndSelect(opener, image, p)) return 1;
        DiskImage disk;
        if (!disk.Mount(p)) return 1;
        DIDir root(&disk, 0);
        if (!root.Load()) return 1;
        int i = root.MakeDir("BIG");
        if (i < 0 || !root.Write()) return 1;
        big = uint32_t(root.GetStartCluster(i));
        DIDir dir(&disk, big);
        if (!dir.Load()) return 1;
        for (int k = 0; k < entries; ++k) {
            char name[16];
            std::snprintf(name, sizeof name, "F%05d.DAT", (k * 7919) % 100000);
            int j = dir.AddEntry(name);
            if (j < 0) return 1;
            dir.SetSize(j, uint32_t((k * 2654435761u) % 1000000));
            dir.SetAttr(j, 0x20);
            SystemTime t;
            t.wYear = uint16_t(1990 + k % 20);
            t.wMonth = uint16_t(1 + k % 12);
            t.wDay = uint16_t(1 + k % 28);
            dir.SetTime(j, t);
        }
        if (!dir.Write()) return 1;
    }

    QApplication app(argc, argv);
    QuietWindow w;
    PendingOpeningOptions() = {std::nullopt, true};
    w.SetStartPath(image);
    w.show();
    w.FirstShow();
    w.ListDirectory(big);
    app.processEvents();
    std::printf("%d entries listed\n", int(w.ListedEntries().size()));

    std::vector<double> selectAll, sort, both, cpu, listing;
    for (int round = 0; round < 5; ++round) {
        for (int column : {2, 4, 1}) {
            double l0 = CpuMs();
            w.ListDirectory(big);  // replaces a listing of as many entries
            app.processEvents();
            listing.push_back(CpuMs() - l0);
            double c0 = CpuMs();
            QElapsedTimer t;
            t.start();
            w.Action("MNSelectAll")->trigger();
            app.processEvents();
            double a = Ms(t);
            QElapsedTimer s;
            s.start();
            w.ColumnClick(column);
            app.processEvents();
            double b = Ms(s);
            cpu.push_back(CpuMs() - c0);
            if (w.SelectedEntries().size() != std::size_t(entries)) {
                std::fprintf(stderr, "the selection was not kept: %zu of %d\n", w.SelectedEntries().size(), entries);
                return 1;
            }
            selectAll.push_back(a);
            sort.push_back(b);
            both.push_back(a + b);
        }
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto best = [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); };
    std::printf("Ctrl+A:                    median %7.1f ms, best %7.1f ms\n", median(selectAll), best(selectAll));
    std::printf("column click (sort, kept): median %7.1f ms, best %7.1f ms\n", median(sort), best(sort));
    std::printf("Ctrl+A then column click:  median %7.1f ms, best %7.1f ms (%d entries, all selected)\n", median(both),
                best(both), entries);
    std::printf("  the same in processor time: median %7.1f ms, best %7.1f ms\n", median(cpu), best(cpu));
    std::printf("listing the folder again, processor time: median %7.1f ms, best %7.1f ms\n", median(listing),
                best(listing));
    w.close();
    RemoveTempFolder(work);
    return 0;
}
