#pragma once

#include <cstddef>
#include <mutex>
#include <new>
#include <vector>

namespace zentrowe {

// Memory handed out from large chunks and let go all together, for many buffers that live about
// as long as one another (the sounds of a build, the blocks of a mix). Where the system has
// them, the chunks ask for huge pages: fresh memory taken a small page at a time costs a fault
// per 4 KB, and on a virtual machine each fault can cost microseconds, more than filling it.
// Safe to use from several threads.
class ChunkArena {
public:
    explicit ChunkArena(std::size_t chunkBytes = kDefaultChunkBytes);
    ChunkArena(const ChunkArena&) = delete;
    ChunkArena& operator=(const ChunkArena&) = delete;
    ~ChunkArena();

    // `bytes` of uninitialised memory, aligned to 64 bytes, valid until the arena goes; a request
    // larger than a chunk gets a chunk of its own. Throws std::bad_alloc.
    void* allocate(std::size_t bytes);

    template <typename T>
    T* allocateArray(std::size_t count)
    {
        static_assert(alignof(T) <= 64);
        if (count > static_cast<std::size_t>(-1) / sizeof(T)) {
            throw std::bad_alloc();
        }
        return static_cast<T*>(allocate(count * sizeof(T)));
    }

    static constexpr std::size_t kDefaultChunkBytes = std::size_t{32} << 20;

private:
    struct Chunk {
        void* memory;
        std::size_t bytes;
    };

    std::size_t m_chunkBytes;
    std::mutex m_mutex;
    std::vector<Chunk> m_chunks;
    std::size_t m_used = 0;  // of the last ordinary chunk
};

}  // namespace zentrowe
