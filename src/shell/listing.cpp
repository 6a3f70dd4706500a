#include "shell/listing.h"

#include "explorer/ops/hostnames.h"

std::string MakeListingText(const DIDir& dir, const std::vector<int>& indexes, const char* lineEnd, bool utf8Names) {
    std::string text = std::string("Filename\tSize\tAttributes\tDate/Time\tStart") + lineEnd;
    for (int i : indexes) {
        text += utf8Names ? dir.GetNameUtf8(i) : dir.GetDisplayName(i);
        text += '\t';
        text += std::to_string(int32_t(dir.GetSize(i)));
        text += '\t';
        text += dir.GetAttrText(i);
        text += '\t';
        text += dir.GetTimeText(i);
        text += '\t';
        text += std::to_string(int32_t(dir.GetStartCluster(i)));
        text += lineEnd;
    }
    return text;
}

std::vector<int> ListedEntries(const DIDir& dir) {
    std::vector<int> out;
    for (uint32_t i = 0; i < dir.GetCount(); ++i) {
        int k = int(i);
        if (dir.IsFree(k) || dir.GetAttr(k) == 0x0F) continue;
        std::string name = dir.GetDisplayName(k);
        if (name == "." || name == "..") continue;
        out.push_back(k);
    }
    return out;
}
