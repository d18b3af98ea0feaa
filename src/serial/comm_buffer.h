#pragma once
// The port's pending-write buffer.
#include <vector>

// Pending bytes

// A byte array of fixed capacity with a fill count: append at the end, copy out from the front,
// delete from the front, clear. Not locked: its owner guards it. Deleting from the front is
// O(1); the bytes are moved down lazily when an append needs the room, so Data() is always one
// contiguous block.
class TVaCommBuffer {
public:
    explicit TVaCommBuffer(int capacity);
    int Capacity() const { return mCapacity; }
    int Count() const { return mCount; }
    int Free() const { return mCapacity - mCount; }
    bool Empty() const { return mCount == 0; }
    // Appends all `count` bytes, or nothing (false) when they do not fit.
    bool Append(const char* data, int count);
    // Copies up to `count` bytes from the front; returns how many were copied.
    int Peek(char* dest, int count) const;
    // The first Count() bytes.
    const char* Data() const { return mBytes.data() + mStart; }
    // Removes up to `count` bytes from the front.
    void Delete(int count);
    void Clear();

private:
    std::vector<char> mBytes;
    int mCapacity = 0;
    int mStart = 0;
    int mCount = 0;
};
