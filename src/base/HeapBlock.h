// Owner of one block from the C heap (malloc, calloc), freed with std::free. The tables handed to the
// device library and the image bytes are such blocks: the owner lends them out as plain pointers.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <utility>

template <typename T>
class CHeapBlock {
public:
    CHeapBlock() = default;
    explicit CHeapBlock(T* pBlock) : m_pBlock(pBlock) {}
    CHeapBlock(const CHeapBlock&) = delete;
    CHeapBlock& operator=(const CHeapBlock&) = delete;
    CHeapBlock(CHeapBlock&& other) noexcept : m_pBlock(other.release()) {}
    CHeapBlock& operator=(CHeapBlock&& other) noexcept
    {
        reset(other.release());
        return *this;
    }
    // Taking a block is always explicit (reset), never an assignment.
    CHeapBlock& operator=(T*) = delete;
    ~CHeapBlock() { std::free(m_pBlock); }

    T* get() const { return m_pBlock; }
    operator T*() const { return m_pBlock; }
    void reset(T* pBlock = nullptr)
    {
        T* pOld = std::exchange(m_pBlock, pBlock);
        if (pOld != pBlock)
            std::free(pOld);
    }
    T* release() { return std::exchange(m_pBlock, nullptr); }

    friend bool operator==(const CHeapBlock& block, std::nullptr_t) { return block.m_pBlock == nullptr; }

private:
    T* m_pBlock = nullptr;
};
