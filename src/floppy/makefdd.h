#pragma once
// Floppy images: a whole floppy read track by track from a drive (or any
// file) into a plain image, every sector in logical order.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct FloppyFormat {
    uint32_t cylinders, heads, sectors, bytesPerSector;
    uint32_t ShownSize() const { return cylinders * heads * sectors * bytesPerSector / 1024; }
    uint32_t TrackBytes() const { return sectors * bytesPerSector; }
    uint32_t Tracks() const { return cylinders * heads; }
};

// 1440, 1232, 720 and 640 KB, in this order.
const std::vector<FloppyFormat>& FloppyFormats();
// The index of a shown size, or -1.
int FloppyFormatBySize(uint32_t kb);

// The output name as used: ".disk" appended when the text holds no full stop.
std::string ImageFileName(const std::string& typed);

// Floppy drives and removable disks of this host (/dev/fd0, USB floppies).
std::vector<std::string> ListFloppyDrives();

// Reads `source` track by track into `output`. The checks and messages of
// the floppy window: 701 no name, 702 no drive, 703 no size (format -1),
// 704 replace an existing file (asked), 711 output not creatable, 710 drive
// not openable, 709 a track not readable, 706 done. A failed or refused
// read leaves no output file behind. `progress` gets each track done and
// the number of tracks.
bool MakeFloppyImage(const std::string& source, const std::string& output, int format,
                     const std::function<void(uint32_t, uint32_t)>& progress = nullptr);
