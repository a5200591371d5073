// One block of a socket's send queue: bytes are appended at the write position and consumed
// from the read position; a drained block starts again from its beginning.
#pragma once

#include <memory>

#include "sys/Classes.h"

class TBuffer : public sys::TObject {
  public:
    static constexpr int DefaultSize = 1514;

    explicit TBuffer(int Size);

    // A size of 0 or less means DefaultSize. Keeps the written bytes; a caller must not
    // shrink a block below its write count.
    void SetSize(int NewSize);
    int Size() const { return size_; }
    // Appends up to Len bytes; returns how many fitted.
    int Write(const void* Data, int Len);
    // The unread bytes: their start and count (nullptr and 0 when there are none).
    const char* Peek(int& Len) const;
    // Consumes up to Len unread bytes; returns how many were consumed.
    int Remove(int Len);
    int WriteCount() const { return wrCount_; }
    int ReadCount() const { return rdCount_; }

  private:
    std::unique_ptr<char[]> data_;
    int size_ = 0;
    int wrCount_ = 0;
    int rdCount_ = 0;
};
