#include "cli/cli_progress.h"

#include <cstdio>

#include "device/messages.h"

void ProgressLine::AddBytes(uint64_t n) {
    bytes_ += n;
    Draw(false);
}

void ProgressLine::NextItem() {
    ++items_;
    Draw(false);
}

void ProgressLine::Draw(bool force) {
    if (!enabled_) return;
    auto now = Clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(200)) return;
    last_ = now;
    double seconds = std::chrono::duration<double>(now - start_).count();
    double mib = double(bytes_) / 1048576.0;
    char size[32], rate[32];
    std::snprintf(size, sizeof size, "%.1f", mib);
    std::snprintf(rate, sizeof rate, "%.1f", seconds > 0 ? mib / seconds : 0.0);
    std::fprintf(stderr, "\r%s   ", MessageString(1700, size, static_cast<unsigned long long>(items_), rate).c_str());
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressLine::Break() {
    if (!drawn_) return;
    std::fputc('\n', stderr);
    drawn_ = false;
}

void ProgressLine::Finish() {
    // A transfer too short to have drawn a line still ends with its figures.
    if (!drawn_ && !(enabled_ && items_ > 0)) return;
    Draw(true);
    std::fputc('\n', stderr);
    drawn_ = false;
    items_ = 0;
    bytes_ = 0;
    start_ = Clock::now();
}

bool CountingDevice::Read(int64_t offset, void* buffer, uint32_t length) {
    bool ok = inner_->Read(offset, buffer, length);
    if (ok) progress_.AddBytes(length);
    return ok;
}

bool CountingDevice::Write(int64_t offset, const void* buffer, uint32_t length) {
    bool ok = inner_->Write(offset, buffer, length);
    if (ok) progress_.AddBytes(length);
    return ok;
}

void CountingDevice::Destroy() {
    inner_->Destroy();
    delete this;
}
