#include "serial/comm_buffer.h"

#include <algorithm>
#include <cstring>

TVaCommBuffer::TVaCommBuffer(int capacity)
    : mBytes(size_t(std::max(capacity, 0))), mCapacity(std::max(capacity, 0)) {}

bool TVaCommBuffer::Append(const char* data, int count) {
    if (count <= 0) return count == 0;
    if (count > Free()) return false;
    if (mStart + mCount + count > mCapacity) {
        std::memmove(mBytes.data(), mBytes.data() + mStart, size_t(mCount));
        mStart = 0;
    }
    std::memcpy(mBytes.data() + mStart + mCount, data, size_t(count));
    mCount += count;
    return true;
}

int TVaCommBuffer::Peek(char* dest, int count) const {
    const int n = std::clamp(count, 0, mCount);
    if (n > 0) std::memcpy(dest, Data(), size_t(n));
    return n;
}

void TVaCommBuffer::Delete(int count) {
    const int n = std::clamp(count, 0, mCount);
    mCount -= n;
    mStart = mCount == 0 ? 0 : mStart + n;
}

void TVaCommBuffer::Clear() {
    mCount = 0;
    mStart = 0;
}
