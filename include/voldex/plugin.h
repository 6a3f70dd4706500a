/*
 * Voldex device plug-ins.
 *
 * A plug-in is a shared library that exports one C function, OpenDevice.
 * Voldex loads it when a disk profile of type 6 names it in its "Library"
 * key, calls OpenDevice with the path the user opens, and from then on does
 * every read and write of that disk through the object OpenDevice returns.
 * The answer says how the volume on the device is laid out.
 *
 *   [My disk format]
 *   ProfileType=6
 *   Library=/usr/lib/voldex/libmydisk.so
 *
 * The object stays alive until Voldex calls its Destroy operation; the
 * library is unloaded only after that.
 */
#ifndef VOLDEX_PLUGIN_H
#define VOLDEX_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* A device object: its first member points to its operations. */
typedef struct VoldexDevice VoldexDevice;

/* The seven operations, in this order. Each receives the object first.
 * Byte offsets are 64-bit, passed as a low and a high 32-bit half.
 * Operations answering true or false use 1 and 0. */
typedef struct VoldexDeviceOps {
    const char* (*GetName)(VoldexDevice* self);   /* the kind of device */
    const char* (*GetPath)(VoldexDevice* self);   /* what it was opened on */
    int32_t (*IsReadOnly)(VoldexDevice* self);
    /* True only when exactly `length` bytes were read. */
    int32_t (*Read)(VoldexDevice* self, uint32_t offsetLow, int32_t offsetHigh, void* buffer, uint32_t length);
    int32_t (*Write)(VoldexDevice* self, uint32_t offsetLow, int32_t offsetHigh, const void* buffer,
                     uint32_t length);
    /* True when the device refuses writes afterwards. */
    int32_t (*MakeReadOnly)(VoldexDevice* self);
    /* Releases everything the object holds, and the object itself. */
    void (*Destroy)(VoldexDevice* self);
} VoldexDeviceOps;

struct VoldexDevice {
    const VoldexDeviceOps* ops;
    /* the plug-in's own data may follow */
};

/* Handed to OpenDevice. */
typedef struct OpenDeviceRequest {
    uint32_t revision;  /* always 1 */
    void* window;       /* the main window, for windows the plug-in shows; may be null */
    const char* path;   /* the path the user opens, zero-terminated */
} OpenDeviceRequest;

/* Answer kinds. */
enum {
    VOLDEX_ANSWER_DECODE_BOOT = 1,   /* params: DiskStart and FileSystem; the boot record gives the rest */
    VOLDEX_ANSWER_FINAL = 2,         /* params: all ten volume parameters, used as they are */
    VOLDEX_ANSWER_MANUAL = 3,        /* the user types the parameters in the manual dialog */
    VOLDEX_ANSWER_PARTITION = 4,     /* geometry: the partition dialog chooses, then the boot record */
    VOLDEX_ANSWER_PARTITION_ASK = 5  /* as 4, the partition dialog always shown */
};

/* Filled by OpenDevice; cleared to zero before the call. 44 bytes. */
typedef struct OpenDeviceResult {
    uint32_t kind;
    union {
        /* kinds 1-3: DiskStart, FileSystem, FATType, FAT, FATSize, FATCount,
         * RootDir, UserArea, ClusterSize, ClustersCount */
        int32_t params[10];
        /* kinds 4-5: HDDType (0 PC-9801, 1 AT, 2 X68000), DiskStart, SecLen,
         * Sectors, Heads, Cylinders */
        int32_t geometry[6];
    } u;
} OpenDeviceResult;

/* The one export: returns the device object, or null when the device
 * cannot be opened. */
typedef VoldexDevice* (*OpenDeviceFunc)(const OpenDeviceRequest* request, OpenDeviceResult* result);

#ifdef __cplusplus
}
#endif

#endif
