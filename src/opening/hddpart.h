#pragma once
// Partition tables of PC-9801 disks, AT master boot records (with nested
// extended tables) and X68000 disks, and the choice of one partition.

#include <cstdint>
#include <string>
#include <vector>

#include "volume/volumeparams.h"

class DeviceIOIF;

enum HDDTableType : int32_t { kTablePC98 = 0, kTableAT = 1, kTableX68000 = 2 };

struct HDDGeometry {
    int32_t HDDType = 0;
    int32_t DiskStart = 0;
    int32_t SecLen = 512;
    int32_t Sectors = 32;
    int32_t Heads = 4;
    int32_t Cylinders = 0;
};

// One row of the partition list; `offset` (bytes from the start of the
// image) is what choosing it yields; `bytes` is the partition's size when
// the table states it (0 when it does not).
// A disk of a container (`inContainer`) has an offset in the container's
// logical space; `fileOffset` is where its data begin in the file when
// they lie there in one piece (an offset --offset can use), else -1.
struct PartitionRow {
    std::string name, start, end, size, offsetText;
    uint64_t offset = 0;
    uint64_t bytes = 0;
    // The same as plain values: the first and last unit (both counted in),
    // the unit the table counts in, the table's type byte (-1: the table
    // has none) and the name as stored or as the table type is called,
    // untranslated.
    uint64_t first = 0, last = 0;
    const char* unit = "sector";  // "sector", "cylinder", "record" or "byte" (a disk of a file of several)
    int type = -1;
    std::string plainName;
    bool inContainer = false;
    int64_t fileOffset = -1;
};

// The partition dialog without its window: the detail fields as the user
// sees and edits them, the table type, the rows, and the dialog's actions.
// A front end shows it and calls Fill, Search and Choose.
class THDDPartDialog {
public:
    // Reads settings AutoHDDFirst and AutoHDDSingle.
    THDDPartDialog();

    // The detail fields, as text.
    std::string DiskStartEdit = "0", SectorEdit = "20", CylinderEdit = "800", SectorLenEdit = "512",
                HeaderEdit = "8";
    int Type = -1;  // 0 "98", 1 "AT", 2 "X68000"; -1 none
    std::vector<PartitionRow> Rows;
    std::string Caption;     // "name - δίσκος"
    std::string SectorLenLabel;  // record length or sector size

    DeviceIOIF* Device = nullptr;
    // Rows that stand for the table when set: the disks of a container
    // that holds several.
    std::vector<PartitionRow> FixedRows;
    bool AutoHDDFirst = false, AutoHDDSingle = false;

    // Takes a geometry into the fields and sets the type.
    void SetGeometry(const HDDGeometry& g);
    // Changes the table type; fills the list again when `refill`.
    void SetType(int type, bool refill);
    // Reads the table of the selected type into Rows. False when a field is
    // not a number (reported) or no type is selected (502).
    bool Fill();
    // Looks for a FAT boot sector from DiskStartEdit in steps of
    // SectorLenEdit; on success moves the fields to the disk it belongs to
    // and fills the list again (506), else reports 507. A list that the
    // moved fields would leave empty is kept, fields and all.
    bool Search();
    // OK with row `row` (-1: nothing selected, which reports 501).
    bool Choose(int row);

    static const char* const kTypeNames[3];
};

// Chooses a partition for `params` (whose device is open): the dialog is
// skipped by the Auto settings unless `force` or Shift is held. Returns 1
// when a partition was chosen (DiskStart and FileSystem set), 2 on cancel.
int RunPartitionDialog(THDDPartDialog& dialog, VolumeParams& params, const HDDGeometry& geometry, bool force);

// The boot-sector search of the dialogs: start and step as typed (read the
// lenient way). Refuses a step of 0 or less (1201), reports 506 or 507. On
// success `sector` holds the boot sector and `at` its absolute offset.
bool SearchBootSector(DeviceIOIF* device, const std::string& start, const std::string& step, int64_t& at,
                      uint8_t* sector);

// Text to a signed 32-bit integer, the strict way: the whole text must be
// a number. Reports the conversion error when it is not.
bool StrictInt(const std::string& text, int32_t& value);
// The same for a 64-bit value (byte offsets on large disks).
bool StrictInt64(const std::string& text, int64_t& value);
// Text to a number the lenient way: leading blanks, optional sign, digits
// up to the first other character; no digits give 0.
int32_t LenientInt(const std::string& text);
// The lenient way for byte offsets: no limit below 2^63.
int64_t LenientInt64(const std::string& text);
