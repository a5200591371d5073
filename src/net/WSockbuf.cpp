#include "WSockbuf.h"

#include <algorithm>
#include <cstring>

TBuffer::TBuffer(int Size) {
    SetSize(Size);
}

void TBuffer::SetSize(int NewSize) {
    if (NewSize <= 0)
        NewSize = DefaultSize;
    if (NewSize == size_)
        return;
    auto fresh = std::make_unique_for_overwrite<char[]>(static_cast<std::size_t>(NewSize));
    if (rdCount_ != wrCount_)
        std::memcpy(fresh.get(), data_.get(),
                    static_cast<std::size_t>(std::min(wrCount_, NewSize)));
    else
        rdCount_ = wrCount_ = 0;
    data_ = std::move(fresh);
    size_ = NewSize;
}

int TBuffer::Write(const void* Data, int Len) {
    int room = size_ - wrCount_;
    if (room <= 0 || Len <= 0)
        return 0;
    int n = std::min(Len, room);
    std::memcpy(data_.get() + wrCount_, Data, static_cast<std::size_t>(n));
    wrCount_ += n;
    return n;
}

const char* TBuffer::Peek(int& Len) const {
    int available = wrCount_ - rdCount_;
    if (available <= 0) {
        Len = 0;
        return nullptr;
    }
    Len = available;
    return data_.get() + rdCount_;
}

int TBuffer::Remove(int Len) {
    int available = wrCount_ - rdCount_;
    if (available <= 0 || Len <= 0)
        return 0;
    int n = std::min(Len, available);
    rdCount_ += n;
    if (rdCount_ == wrCount_)
        rdCount_ = wrCount_ = 0;
    return n;
}
