/* A device plug-in for the tests: serves an image file. How it answers is
 * set through the environment:
 *   VOLDEX_TEST_KIND    the answer kind (default 2); "null" returns no object
 *   VOLDEX_TEST_PARAMS  ten comma-separated numbers for the answer's block
 *   VOLDEX_TEST_LOG     a file that receives "open", "destroy", "unload"
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "voldex/plugin.h"

typedef struct {
    VoldexDevice base;
    int fd;
    int readOnly;
    char path[512];
} FileDevice;

static void Log(const char* what) {
    const char* log = getenv("VOLDEX_TEST_LOG");
    if (!log) return;
    FILE* f = fopen(log, "a");
    if (!f) return;
    fprintf(f, "%s\n", what);
    fclose(f);
}

static const char* GetName(VoldexDevice* self) { (void)self; return "Test plug-in"; }
static const char* GetPath(VoldexDevice* self) { return ((FileDevice*)self)->path; }
static int32_t IsReadOnly(VoldexDevice* self) { return ((FileDevice*)self)->readOnly; }

static int32_t Read(VoldexDevice* self, uint32_t lo, int32_t hi, void* buffer, uint32_t length) {
    off_t at = (off_t)(((uint64_t)(uint32_t)hi << 32) | lo);
    return pread(((FileDevice*)self)->fd, buffer, length, at) == (ssize_t)length;
}

static int32_t Write(VoldexDevice* self, uint32_t lo, int32_t hi, const void* buffer, uint32_t length) {
    FileDevice* d = (FileDevice*)self;
    if (d->readOnly) return 0;
    off_t at = (off_t)(((uint64_t)(uint32_t)hi << 32) | lo);
    return pwrite(d->fd, buffer, length, at) == (ssize_t)length;
}

static int32_t MakeReadOnly(VoldexDevice* self) {
    ((FileDevice*)self)->readOnly = 1;
    return 1;
}

static void Destroy(VoldexDevice* self) {
    FileDevice* d = (FileDevice*)self;
    close(d->fd);
    free(d);
    Log("destroy");
}

static const VoldexDeviceOps kOps = {GetName, GetPath, IsReadOnly, Read, Write, MakeReadOnly, Destroy};

__attribute__((destructor)) static void Unloaded(void) { Log("unload"); }

VoldexDevice* OpenDevice(const OpenDeviceRequest* request, OpenDeviceResult* result) {
    const char* kind = getenv("VOLDEX_TEST_KIND");
    if (kind && strcmp(kind, "null") == 0) return NULL;
    if (request->revision != 1) return NULL;
    FileDevice* d = (FileDevice*)calloc(1, sizeof *d);
    d->base.ops = &kOps;
    d->fd = open(request->path, O_RDWR);
    if (d->fd < 0) {
        free(d);
        return NULL;
    }
    snprintf(d->path, sizeof d->path, "plugin:%s", request->path);
    result->kind = kind ? (uint32_t)atoi(kind) : 2;
    const char* params = getenv("VOLDEX_TEST_PARAMS");
    for (int k = 0; params && *params && k < 10; ++k) {
        char* end;
        result->u.params[k] = (int32_t)strtol(params, &end, 0);
        params = *end == ',' ? end + 1 : end;
    }
    Log("open");
    return &d->base;
}
