#pragma once
// A list that grows in fixed-size chunks. Appending never moves what the list holds and never
// copies a grown block into a fresh one, so a list of a million entry copies pays for its pages
// once, instead of for every doubling of one block (each of them fresh, zeroed memory once the
// block is large).

#include <cstddef>
#include <iterator>
#include <utility>
#include <vector>

template <typename T, std::size_t ChunkSize = 4096> class TChunkedList {
public:
    class const_iterator {
    public:
        using iterator_category = std::forward_iterator_tag;
        using value_type = T;
        using difference_type = std::ptrdiff_t;
        using pointer = const T*;
        using reference = const T&;

        const_iterator() = default;
        const_iterator(const TChunkedList* list, std::size_t index) : FList(list), FIndex(index) {}
        reference operator*() const { return (*FList)[FIndex]; }
        pointer operator->() const { return &(*FList)[FIndex]; }
        const_iterator& operator++() {
            ++FIndex;
            return *this;
        }
        const_iterator operator++(int) {
            const_iterator before = *this;
            ++FIndex;
            return before;
        }
        bool operator==(const const_iterator& other) const { return FIndex == other.FIndex; }

    private:
        const TChunkedList* FList = nullptr;
        std::size_t FIndex = 0;
    };

    template <typename... Args> T& emplace_back(Args&&... args) {
        if (FChunks.empty() || FChunks.back().size() == ChunkSize) {
            FChunks.emplace_back();
            FChunks.back().reserve(ChunkSize);
        }
        T& added = FChunks.back().emplace_back(std::forward<Args>(args)...);
        ++FSize;
        return added;
    }

    void pop_back() {
        while (FChunks.back().empty()) // a chunk left empty by a failed append
            FChunks.pop_back();
        FChunks.back().pop_back();
        --FSize;
        if (FChunks.back().empty())
            FChunks.pop_back();
    }

    void clear() {
        FChunks.clear();
        FSize = 0;
    }

    std::size_t size() const { return FSize; }
    bool empty() const { return FSize == 0; }

    T& operator[](std::size_t index) { return FChunks[index / ChunkSize][index % ChunkSize]; }
    const T& operator[](std::size_t index) const {
        return FChunks[index / ChunkSize][index % ChunkSize];
    }
    const T& front() const { return (*this)[0]; }
    const T& back() const { return (*this)[FSize - 1]; }

    const_iterator begin() const { return const_iterator(this, 0); }
    const_iterator end() const { return const_iterator(this, FSize); }

private:
    std::vector<std::vector<T>> FChunks; // every chunk but the last holds ChunkSize items
    std::size_t FSize = 0;
};
