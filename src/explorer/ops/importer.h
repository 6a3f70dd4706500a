#pragma once
// Import: host files and folders written into a folder of the volume with
// their data, last-write time and read-only mark; folders recursively.

#include <cstddef>
#include <string>
#include <vector>

#include "device/userinterface.h"
#include "volume/didir.h"

// Imports one host path into `dir`. `state` is the running answer of the
// whole import, as for export: owCancel stops it. An entry that exists as a
// folder is reported (109) and skipped; every other failure reports its
// message and sets owCancel, and the entry being made is taken back.
// `asName`, when given, is the name the entry takes instead of the host
// path's last component (checked by the caller: it is stored as it stands).
void ImportPath(const std::string& hostPath, DIDir& dir, OverwriteAnswer& state, const std::string& asName = "");

// Imports a list of host paths into `dir` and writes it: the import of
// dropped, pasted or chosen files. With `confirm`, the list is shown for
// confirmation first. Progress counts the paths finished (0..n) and a stop
// asked for through the user interface ends it after the file at hand. A
// single path may arrive under `asName`. Returns the final state (owCancel
// when the import was stopped or not confirmed).
OverwriteAnswer ImportFileList(DIDir& dir, const std::vector<std::string>& paths, bool confirm,
                               const std::string& asName = "");

// How many host entries the last ImportFileList passed over with a message
// (links to nothing, FIFOs and devices, links back to a folder above them,
// names held by folders of the volume): the copy is then incomplete.
std::size_t LastImportSkipped();

