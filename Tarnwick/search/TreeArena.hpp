#pragma once
// Memory for the nodes, edges and positions one tree makes. A search makes thousands of small
// objects and frees them all together when the tree goes; carving them from large chunks
// spares the heap most of that work.
//
// The objects stay ordinary shared objects: each is freed when its last reference goes, and
// the chunks go back to the heap once the tree has closed its arena and no object made here
// is left, so a node a caller keeps outlives the tree safely (holding its chunks until then).
// Freed space is not reused while the arena lives; the tree frees almost nothing before it
// goes. A block finds its arena from its address (chunks are aligned to their size), so the
// objects carry no extra pointer.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace tarnwick {

class TreeArena {
  public:
    TreeArena() = default;
    // A copy starts an arena of its own; what the original made stays the original's.
    TreeArena(const TreeArena&) noexcept {}
    TreeArena& operator=(const TreeArena& other) noexcept;
    TreeArena(TreeArena&& other) noexcept;
    TreeArena& operator=(TreeArena&& other) noexcept;
    ~TreeArena();

    // make_shared with the object and its reference counts carved from the arena.
    template <typename T, typename... Args> std::shared_ptr<T> make(Args&&... args) {
        const Making making(*this);
        return std::allocate_shared<T>(Allocator<T>{}, std::forward<Args>(args)...);
    }

    // Bytes of the chunks taken from the heap so far (0 before the first object).
    std::size_t reservedBytes() const;

    static constexpr std::size_t ChunkBytes = 16384;

  private:
    struct Pool;
    struct Chunk;
    // Points the allocations of this thread at the arena while `make` runs: the allocator
    // itself holds nothing, or every control block would store it.
    struct Making {
        explicit Making(TreeArena& arena);
        ~Making();
        TreeArena* previous;
    };
    static void* allocate(std::size_t bytes, std::size_t alignment);
    static void release(void* block, std::size_t bytes) noexcept;

    template <typename T> struct Allocator {
        using value_type = T;
        Allocator() = default;
        template <typename U> Allocator(const Allocator<U>&) noexcept {}
        T* allocate(std::size_t n) {
            return static_cast<T*>(TreeArena::allocate(n * sizeof(T), alignof(T)));
        }
        void deallocate(T* block, std::size_t n) noexcept {
            TreeArena::release(block, n * sizeof(T));
        }
        template <typename U> bool operator==(const Allocator<U>&) const noexcept { return true; }
    };

    void close() noexcept;

    Pool* pool = nullptr;
    // References the owner has taken in advance for blocks not yet handed out, so that
    // handing one out touches no shared counter.
    std::int64_t credit = 0;
};

} // namespace tarnwick
