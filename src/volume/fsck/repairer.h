#pragma once
// The repair of a FAT12/16 or Human68k volume from what the check finds.
// It works in rounds: check, mend every finding of the most basic kind
// present, check again. Each write leaves a volume no worse than before it
// (new data first, then the FAT, then the entry; nothing reached by an
// entry is ever freed), so a repair stopped at any write can be run again
// and finishes the job. Like the check it shows no message itself.

#include <string>
#include <vector>

#include "volume/fsck/checker.h"

struct RepairOptions {
    bool save = false;  // lost chains become FILEnnnn.CHK files in the root
};

// One finding and what the repair does about it.
struct RepairStep {
    CheckKind kind;
    std::string finding;  // the check's text, in the user's language
    std::string findingEnglish;  // the same in English (for scripts)
    unsigned action;      // catalogue message that says what will be done
};

struct RepairOutcome {
    CheckResult before;              // the first check
    CheckResult after;               // the last check (the first on a plan only)
    std::vector<RepairStep> plan;    // one step per finding of `before`
    std::vector<std::string> done;   // what was mended, one line each (UTF-8)
    std::vector<std::string> unmended;  // findings left on purpose, and why
    std::vector<std::string> doneEnglish, unmendedEnglish;  // the same in English
    bool writeFailed = false;        // a write failed: the repair stopped there
    bool Clean() const { return after.Clean(); }
};

// Why a volume cannot be repaired at all (catalogue message), or 0: FAT32,
// a read-only image, a volume that reaches beyond its image, a check that
// cannot be completed.
unsigned RepairRefusal(DiskImage& image, const CheckResult& check);

// The plan for the findings of a check.
std::vector<RepairStep> PlanRepair(const CheckResult& check, const RepairOptions& options);

// Repairs the volume (the caller has made sure RepairRefusal gives 0).
RepairOutcome RepairVolume(DiskImage& image, const RepairOptions& options);
