#include "core/base/chunk_arena.h"

#include <algorithm>
#include <cstdlib>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif
#if defined(_WIN32)
#include <malloc.h>
#endif

namespace zentrowe {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kAlignment = 64;

std::size_t roundUp(std::size_t bytes, std::size_t to)
{
    return (bytes + to - 1) / to * to;
}

// Windows' C library has no aligned_alloc: its aligned blocks come and go by a pair of its own.
void* alignedChunk(std::size_t bytes)
{
#if defined(_WIN32)
    return _aligned_malloc(bytes, kHugePage);
#else
    return std::aligned_alloc(kHugePage, bytes);
#endif
}

void freeChunk(void* memory)
{
#if defined(_WIN32)
    _aligned_free(memory);
#else
    std::free(memory);
#endif
}

void* takeChunk(std::size_t bytes)
{
    void* memory = alignedChunk(bytes);
    if (memory == nullptr) {
        throw std::bad_alloc();
    }
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    // Only advice: where huge pages are off, the chunk is ordinary memory.
    madvise(memory, bytes, MADV_HUGEPAGE);
#endif
    return memory;
}

}  // namespace

ChunkArena::ChunkArena(std::size_t chunkBytes) : m_chunkBytes(roundUp(std::max(chunkBytes, kHugePage), kHugePage))
{
}

ChunkArena::~ChunkArena()
{
    for (const auto& chunk : m_chunks) {
        freeChunk(chunk.memory);
    }
}

void* ChunkArena::allocate(std::size_t bytes)
{
    if (bytes > static_cast<std::size_t>(-1) - kHugePage) {
        throw std::bad_alloc();
    }
    bytes = roundUp(std::max<std::size_t>(bytes, 1), kAlignment);
    std::lock_guard lock(m_mutex);
    m_chunks.reserve(m_chunks.size() + 1);  // so that a chunk taken below is never lost
    if (bytes > m_chunkBytes / 4) {
        // A large request gets a chunk of its own, kept before the last ordinary one so that
        // one's free space stays in use.
        const std::size_t size = roundUp(bytes, kHugePage);
        void* memory = takeChunk(size);
        m_chunks.insert(m_chunks.empty() ? m_chunks.end() : m_chunks.end() - 1, {memory, size});
        if (m_chunks.size() == 1) {
            m_used = size;  // no ordinary chunk yet: the next request opens one
        }
        return memory;
    }
    if (m_chunks.empty() || m_used + bytes > m_chunks.back().bytes) {
        m_chunks.push_back({takeChunk(m_chunkBytes), m_chunkBytes});
        m_used = 0;
    }
    void* memory = static_cast<std::byte*>(m_chunks.back().memory) + m_used;
    m_used += bytes;
    return memory;
}

}  // namespace zentrowe
