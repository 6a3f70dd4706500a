#pragma once
// A test on an image file with its root folder loaded, remounted at will,
// and checked by fsck.fat.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/images.h"
#include "volume/didir.h"

class RootFixture : public ::testing::Test {
protected:
    void Mount() {
        root.reset();
        m.image.reset();  // one writer at a time: the old mount goes first
        m = MountImageFile(image);
        ASSERT_TRUE(m);
        m->LongNames = longNames;
        root = std::make_unique<DIDir>(m.image.get(), 0);
        ASSERT_TRUE(root->Load());
    }
    void Unmount() {
        root.reset();
        m.image.reset();
    }
    // Unmounts, runs fsck.fat -n, mounts again.
    void ExpectSound() {
        Unmount();
        std::string report;
        EXPECT_TRUE(FsckClean(image, &report)) << report;
        Mount();
    }

    TempDir dir;
    std::string image;
    Mounted m;
    std::unique_ptr<DIDir> root;
    // Tests of the 8.3-only behaviour turn long names off.
    bool longNames = true;
};
