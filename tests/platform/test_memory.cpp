// Aligned, zeroed blocks: small ones on a cache line, large ones (on huge pages
// where the kernel gives them) 2 MiB aligned; both zeroed to their last byte.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"

TEST(AlignedMemory, SmallAndLargeBlocksAreAlignedAndZeroedToTheEnd) {
    for (const size_t bytes : {size_t{1}, size_t{100}, (size_t{4} << 20) + 1, (size_t{6} << 20) - 64}) {
        auto* p = static_cast<unsigned char*>(plat::AlignedAllocZeroed(bytes));
        ASSERT_NE(p, nullptr) << bytes;
        const auto at = reinterpret_cast<uintptr_t>(p);
        EXPECT_EQ(at % (bytes >= (size_t{4} << 20) ? size_t{2} << 20 : 64), 0u) << bytes;
        EXPECT_EQ(p[0], 0) << bytes;
        EXPECT_EQ(p[bytes - 1], 0) << bytes;
        p[bytes - 1] = 1;  // the whole block is writable
        plat::AlignedFree(p);
    }
}
