#include "core/base/chunk_arena.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

namespace zentrowe::testing {
namespace {

// Small, chunk-sized and larger-than-a-chunk requests, in an order that mixes them, from two
// threads: every block is aligned, writable to its end, and overlaps no other.
TEST(ChunkArena, HandsOutAlignedBlocksThatNeverOverlap)
{
    constexpr std::size_t kChunk = std::size_t{2} << 20;
    const std::vector<std::size_t> sizes = {0, 1, 63, 64, 100'000, kChunk / 4, kChunk / 4 + 1, kChunk, 3 * kChunk, 7,
                                            kChunk - 1, 500'000, 500'000, 500'000, 500'000, 5 * kChunk + 3};
    ChunkArena arena(kChunk);
    std::vector<std::pair<std::uintptr_t, std::size_t>> blocks[2];
    const auto take = [&](int thread) {
        for (std::size_t round = 0; round < 3; ++round) {
            for (const std::size_t size : sizes) {
                auto* memory = static_cast<unsigned char*>(arena.allocate(size));
                std::memset(memory, thread + 1, size);
                blocks[thread].emplace_back(reinterpret_cast<std::uintptr_t>(memory), size);
            }
        }
    };
    {
        std::jthread other(take, 1);
        take(0);
    }
    std::vector<std::pair<std::uintptr_t, std::size_t>> all = blocks[0];
    all.insert(all.end(), blocks[1].begin(), blocks[1].end());
    std::sort(all.begin(), all.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].first % 64, 0u) << "block " << i;
        if (i + 1 < all.size()) {
            EXPECT_LE(all[i].first + all[i].second, all[i + 1].first) << "block " << i << " overlaps the next";
        }
    }
    EXPECT_THROW(arena.allocateArray<float>(static_cast<std::size_t>(-1) / 2), std::bad_alloc);
}

}  // namespace
}  // namespace zentrowe::testing
