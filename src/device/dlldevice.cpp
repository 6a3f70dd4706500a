#include "device/dlldevice.h"

#include <dlfcn.h>

#include "device/messages.h"

namespace {
uint32_t Low(int64_t v) { return static_cast<uint32_t>(v); }
int32_t High(int64_t v) { return static_cast<int32_t>(v >> 32); }
}  // namespace

CDLLDevice::~CDLLDevice() {
    if (library_) dlclose(library_);
}

bool CDLLDevice::Open(const std::string& libraryPath, const OpenDeviceRequest& request, OpenDeviceResult& result) {
    // An empty path would give the program itself from dlopen; it names no library.
    library_ = libraryPath.empty() ? nullptr : dlopen(libraryPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library_) {
        ShowMessage(1001, libraryPath);
        return false;
    }
    auto open = reinterpret_cast<OpenDeviceFunc>(dlsym(library_, "OpenDevice"));
    if (!open) {
        ShowMessage(1002, libraryPath, "OpenDevice");
        return false;
    }
    object_ = open(&request, &result);
    if (!object_ || !object_->ops) {
        object_ = nullptr;
        ShowMessage(1003, libraryPath, request.path ? request.path : "");
        return false;
    }
    return true;
}

const char* CDLLDevice::GetName() {
    const char* s = object_ && object_->ops->GetName ? object_->ops->GetName(object_) : nullptr;
    return s ? s : "";
}

const char* CDLLDevice::GetPath() {
    const char* s = object_ && object_->ops->GetPath ? object_->ops->GetPath(object_) : nullptr;
    return s ? s : "";
}

bool CDLLDevice::IsReadOnly() {
    return !object_ || !object_->ops->IsReadOnly || object_->ops->IsReadOnly(object_) != 0;
}

bool CDLLDevice::Read(int64_t offset, void* buffer, uint32_t length) {
    if (!object_ || !object_->ops->Read) return false;
    return object_->ops->Read(object_, Low(offset), High(offset), buffer, length) != 0;
}

bool CDLLDevice::Write(int64_t offset, const void* buffer, uint32_t length) {
    if (!object_ || !object_->ops->Write) return false;
    return object_->ops->Write(object_, Low(offset), High(offset), buffer, length) != 0;
}

bool CDLLDevice::MakeReadOnly() {
    if (!object_ || !object_->ops->MakeReadOnly) return false;
    return object_->ops->MakeReadOnly(object_) != 0;
}

void CDLLDevice::Destroy() {
    if (object_ && object_->ops->Destroy) object_->ops->Destroy(object_);
    object_ = nullptr;
    delete this;
}
