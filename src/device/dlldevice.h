#pragma once
// A device served by a plug-in library: every operation goes to the object
// the library's OpenDevice returned. The library stays loaded for the
// device's whole life.

#include <string>

#include "device/deviceio.h"
#include "voldex/plugin.h"

class CDLLDevice : public DeviceIOIF {
public:
    CDLLDevice() = default;
    CDLLDevice(const CDLLDevice&) = delete;
    CDLLDevice& operator=(const CDLLDevice&) = delete;

    // Loads the library, finds "OpenDevice" and calls it. Messages
    // 1001-1003 say what failed; the caller then destroys this object.
    bool Open(const std::string& libraryPath, const OpenDeviceRequest& request, OpenDeviceResult& result);

    const char* GetName() override;
    const char* GetPath() override;
    bool IsReadOnly() override;
    bool Read(int64_t offset, void* buffer, uint32_t length) override;
    bool Write(int64_t offset, const void* buffer, uint32_t length) override;
    bool MakeReadOnly() override;
    // Destroys the library's object first, then unloads the library.
    void Destroy() override;

protected:
    ~CDLLDevice() override;

private:
    void* library_ = nullptr;
    VoldexDevice* object_ = nullptr;
};
