#pragma once

#include <cstddef>
#include <mutex>
#include <vector>

// Large per-record buffers of datasets (row locators, orders, row maps)
// kept between openings: a listing opened again, or opened by a new
// dataset, fills memory that is already mapped instead of asking the
// system for fresh pages each time (a million records fault in megabytes).
template <typename T>
class RowBufferPool {
public:
    // An empty buffer, with the capacity of one given back earlier when there is one.
    static std::vector<T> take()
    {
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<std::vector<T>>& free = buffers();
        if (free.empty()) return {};
        std::vector<T> buffer = std::move(free.back());
        free.pop_back();
        buffer.clear();
        return buffer;
    }

    // Takes a buffer's memory back (the buffer is left empty); small ones,
    // and more than the pool keeps, are freed.
    static void give(std::vector<T>& buffer)
    {
        std::vector<T> taken = std::move(buffer);
        buffer = std::vector<T>();
        if (taken.capacity() < kWorthKeeping) return;
        std::lock_guard<std::mutex> lock(mutex());
        std::vector<std::vector<T>>& free = buffers();
        if (free.size() < kKept) free.push_back(std::move(taken));
    }

private:
    static constexpr std::size_t kWorthKeeping = 16384; // elements
    static constexpr std::size_t kKept = 3;             // a dataset's buffers of one type at a time

    static std::mutex& mutex()
    {
        static std::mutex m;
        return m;
    }
    static std::vector<std::vector<T>>& buffers()
    {
        static std::vector<std::vector<T>> free;
        return free;
    }
};
