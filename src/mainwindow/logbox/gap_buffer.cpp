#include "mainwindow/logbox/gap_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>

#ifdef Q_OS_UNIX
#include <sys/mman.h>
#endif

namespace norvak {

namespace {
constexpr qsizetype minimumCapacity = 256;
constexpr std::size_t mappedFrom = 1024 * 1024; // bytes
} // namespace

GapBuffer::Block GapBuffer::allocateBlock(qsizetype codeUnits) {
#ifdef Q_OS_UNIX
    // Windows' heap takes blocks this large straight from VirtualAlloc and returns them on
    // delete, as munmap does here.
    const std::size_t bytes = static_cast<std::size_t>(codeUnits) * sizeof(char16_t);
    if (bytes >= mappedFrom) {
        void* mapped =
            ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED) {
            throw std::bad_alloc();
        }
        return Block(static_cast<char16_t*>(mapped), detail::BlockRelease{bytes});
    }
#endif
    return Block(new char16_t[static_cast<std::size_t>(codeUnits)], detail::BlockRelease{0});
}

void detail::BlockRelease::operator()(char16_t* block) const noexcept {
#ifdef Q_OS_UNIX
    if (bytes >= mappedFrom) {
        ::munmap(block, bytes);
        return;
    }
#endif
    delete[] block;
}

void GapBuffer::replace(qsizetype pos, qsizetype count, QStringView text) {
    Q_ASSERT(pos >= 0 && count >= 0 && pos + count <= size());
    moveGapTo(pos);
    gapEnd_ += count; // the removed code units join the gap
    reserveGap(text.size());
    std::copy(text.utf16(), text.utf16() + text.size(), data_.get() + gapStart_);
    gapStart_ += text.size();
}

void GapBuffer::clear() {
    data_.reset();
    capacity_ = gapStart_ = gapEnd_ = 0;
}

void GapBuffer::copy(qsizetype pos, qsizetype count, char16_t* out) const {
    Q_ASSERT(pos >= 0 && count >= 0 && pos + count <= size());
    const qsizetype before = std::clamp<qsizetype>(gapStart_ - pos, 0, count);
    std::copy_n(data_.get() + pos, before, out);
    const qsizetype after = count - before;
    std::copy_n(data_.get() + pos + before + gapLength(), after, out + before);
}

QString GapBuffer::mid(qsizetype pos, qsizetype count) const {
    QString result(count, Qt::Uninitialized);
    copy(pos, count, reinterpret_cast<char16_t*>(result.data()));
    return result;
}

void GapBuffer::moveGapTo(qsizetype pos) {
    if (pos < gapStart_) {
        const qsizetype moved = gapStart_ - pos;
        std::memmove(data_.get() + gapEnd_ - moved, data_.get() + pos,
                     static_cast<std::size_t>(moved) * sizeof(char16_t));
        gapStart_ -= moved;
        gapEnd_ -= moved;
    } else if (pos > gapStart_) {
        const qsizetype moved = pos - gapStart_;
        std::memmove(data_.get() + gapStart_, data_.get() + gapEnd_,
                     static_cast<std::size_t>(moved) * sizeof(char16_t));
        gapStart_ += moved;
        gapEnd_ += moved;
    }
}

void GapBuffer::reserveGap(qsizetype needed) {
    if (gapLength() >= needed) {
        return;
    }
    const qsizetype used = size();
    // Doubling keeps appends amortised O(1).
    const qsizetype newCapacity = std::max({minimumCapacity, 2 * capacity_, used + needed});
    Block grown = allocateBlock(newCapacity);
    const qsizetype tail = capacity_ - gapEnd_;
    std::copy_n(data_.get(), gapStart_, grown.get());
    std::copy_n(data_.get() + gapEnd_, tail, grown.get() + newCapacity - tail);
    data_ = std::move(grown);
    gapEnd_ = newCapacity - tail;
    capacity_ = newCapacity;
}

} // namespace norvak
