#include "Tarnwick/search/TreeArena.hpp"

#include <cstdint>
#include <new>
#include <stdexcept>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARNWICK_ARENA_POISON 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TARNWICK_ARENA_POISON 1
#endif
#if TARNWICK_ARENA_POISON
#include <sanitizer/asan_interface.h>
#endif

namespace tarnwick {

namespace {

thread_local TreeArena* making = nullptr;

// References taken at once when the owner's run out.
constexpr std::int64_t CreditBatch = 4096;

} // namespace

// Each chunk starts with this header; a block's chunk is its address rounded down.
struct TreeArena::Chunk {
    Pool* pool;
    Chunk* next;
};

// References: one for the owner, one for each block handed out and not yet freed, and the
// owner's unused credit.
struct TreeArena::Pool {
    std::atomic<std::int64_t> references{1};
    Chunk* chunks = nullptr;
    char* cursor = nullptr;
    char* end = nullptr;
    std::size_t reserved = 0;

    ~Pool() {
        while (chunks) {
            auto* next = chunks->next;
            ::operator delete (static_cast<void*>(chunks), std::align_val_t{ChunkBytes});
            chunks = next;
        }
    }
};

TreeArena::Making::Making(TreeArena& arena) : previous(making) {
    making = &arena;
}
TreeArena::Making::~Making() {
    making = previous;
}

TreeArena& TreeArena::operator=(const TreeArena& other) noexcept {
    if (this != &other) close();
    return *this;
}

TreeArena::TreeArena(TreeArena&& other) noexcept
    : pool(std::exchange(other.pool, nullptr)), credit(std::exchange(other.credit, 0)) {}

TreeArena& TreeArena::operator=(TreeArena&& other) noexcept {
    if (this != &other) {
        close();
        pool = std::exchange(other.pool, nullptr);
        credit = std::exchange(other.credit, 0);
    }
    return *this;
}

TreeArena::~TreeArena() {
    close();
}

void TreeArena::close() noexcept {
    if (!pool) return;
    const auto mine = credit + 1;
    if (pool->references.fetch_sub(mine, std::memory_order_acq_rel) == mine) delete pool;
    pool = nullptr;
    credit = 0;
}

std::size_t TreeArena::reservedBytes() const {
    return pool ? pool->reserved : 0;
}

void* TreeArena::allocate(std::size_t bytes, std::size_t alignment) {
    TreeArena* owner = making;
    if (!owner) throw std::logic_error("TreeArena: an allocation outside make");
    // The tree's objects are a few dozen bytes; a block that leaves no room in a chunk is a
    // misuse, refused rather than served.
    if (alignment > alignof(std::max_align_t) || bytes > ChunkBytes - sizeof(Chunk) - alignment)
        throw std::bad_alloc();
    if (!owner->pool) owner->pool = new Pool;
    auto& pool = *owner->pool;
    const auto alignUp = [alignment](char* at) {
        const auto address = reinterpret_cast<std::uintptr_t>(at);
        return at + ((alignment - address % alignment) % alignment);
    };
    char* at = pool.cursor ? alignUp(pool.cursor) : nullptr;
    if (!at || bytes > static_cast<std::size_t>(pool.end - at)) {
        auto* chunk =
            static_cast<Chunk*>(::operator new (ChunkBytes, std::align_val_t{ChunkBytes}));
        *chunk = {&pool, pool.chunks};
        pool.chunks = chunk;
        pool.reserved += ChunkBytes;
        pool.end = reinterpret_cast<char*>(chunk) + ChunkBytes;
        at = alignUp(reinterpret_cast<char*>(chunk + 1));
    }
    if (owner->credit == 0) {
        pool.references.fetch_add(CreditBatch, std::memory_order_relaxed);
        owner->credit = CreditBatch;
    }
    --owner->credit;
    pool.cursor = at + bytes;
    return at;
}

void TreeArena::release(void* block, [[maybe_unused]] std::size_t bytes) noexcept {
#if TARNWICK_ARENA_POISON
    // The block is never handed out again: the address sanitizer reports any later use of it,
    // as it would for an object freed to the heap.
    ASAN_POISON_MEMORY_REGION(block, bytes);
#endif
    const auto address = reinterpret_cast<std::uintptr_t>(block);
    auto* chunk = reinterpret_cast<Chunk*>(address & ~std::uintptr_t{ChunkBytes - 1});
    auto* pool = chunk->pool;
    if (pool->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete pool;
}

} // namespace tarnwick
