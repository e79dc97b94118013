#include "array.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "support/Capture.h"

using Trelis::array;
using TrelisTest::errorOf;

// Storage for the product of the extents, none below one element (also when the product wraps);
// a resize to the same extents keeps storage and contents.
TEST(array, ExtentsAndStorage) {
    array<float> a(4, 3, 2);
    EXPECT_EQ(a.size(), 24);
    a.fill(1.5f);
    for (int i = 0; i < a.size(); ++i) {
        ASSERT_EQ(a.data[i], 1.5f);
    }
    float* before = a.data;
    a.resize(4, 3, 2);  // the same extents keep the storage and what it holds
    EXPECT_EQ(a.data, before);
    EXPECT_EQ(a.data[23], 1.5f);
    a.resize(2, 8);
    EXPECT_EQ(a.size(), 16);
    EXPECT_EQ(a.dim1, 2u);
    EXPECT_EQ(a.dim2, 8u);
    EXPECT_EQ(a.dim3, 1u);
    a.resize(0);
    EXPECT_EQ(a.data, nullptr);
    a.fill(2.0f);  // nothing to fill

    array<unsigned char> wraps(65536, 65536);  // 2^32 wraps to 0
    EXPECT_EQ(wraps.size(), 0);
    EXPECT_EQ(wraps.data, nullptr);
    array<unsigned char> negative(0x80000000u);
    EXPECT_LT(negative.size(), 1);
    EXPECT_EQ(negative.data, nullptr);
}

TEST(array, AliasKeepsItsStorageOnSameExtentsAndRefusesOtherExtents) {
    float storage[4] = {1, 2, 3, 4};
    {
        array<float> alias(0);
        alias.data = storage;
        alias.dim1 = 4;
        alias.isAlias = true;
        alias.resize(4);
        EXPECT_EQ(alias.data, storage);
        EXPECT_EQ(errorOf([&] { alias.resize(5); }), "array::resize(): Cannot resize alias array");
        EXPECT_EQ(alias.data, storage);
        EXPECT_EQ(alias.dim1, 4u);
        // A copy of an alias owns its storage.
        array<float> copy(alias);
        EXPECT_FALSE(copy.isAlias);
        EXPECT_NE(copy.data, storage);
        EXPECT_EQ(copy.data[3], 4.0f);
        copy.data[2] = 9.0f;
    }
    EXPECT_EQ(storage[2], 3.0f);  // the alias did not free or change it
}

// An element so large that 2^31 - 1 of them overflow a 64-bit byte count.
struct Huge {
    unsigned char bytes[std::size_t{1} << 34];
};

TEST(array, ByteCountBeyondSizeTIsAnAllocationFailure) {
    array<Huge> a(0);
    EXPECT_EQ(errorOf([&] { a.resize(0x7FFFFFFFu); }), "array::resize(): Error allocating memory");
    EXPECT_EQ(a.data, nullptr);
    EXPECT_EQ(a.dim1, 0x7FFFFFFFu);
}
