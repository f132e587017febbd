#pragma once

// Gap buffer of UTF-16 code units: inserting or erasing next to the previous edit is O(1)
// amortised, so a stream of appends at the end never moves the stored text.
#include <QString>
#include <QStringView>

#include <memory>

namespace norvak {

namespace detail {
// Frees a block of the gap buffer the way it was allocated.
struct BlockRelease {
    std::size_t bytes = 0;
    void operator()(char16_t* block) const noexcept;
};
} // namespace detail

class GapBuffer {
public:
    GapBuffer() = default;

    [[nodiscard]] qsizetype size() const { return capacity_ - gapLength(); }
    [[nodiscard]] bool isEmpty() const { return size() == 0; }
    [[nodiscard]] qsizetype capacity() const { return capacity_; }

    [[nodiscard]] char16_t at(qsizetype pos) const {
        return data_[pos < gapStart_ ? pos : pos + gapLength()];
    }

    // Replaces [pos, pos + count) with text; pos and count must lie inside the buffer.
    void replace(qsizetype pos, qsizetype count, QStringView text);
    void insert(qsizetype pos, QStringView text) { replace(pos, 0, text); }
    void erase(qsizetype pos, qsizetype count) { replace(pos, count, {}); }
    void clear();

    // Copies [pos, pos + count) to out, which must hold count code units.
    void copy(qsizetype pos, qsizetype count, char16_t* out) const;
    [[nodiscard]] QString mid(qsizetype pos, qsizetype count) const;
    [[nodiscard]] QString toString() const { return mid(0, size()); }

private:
    using Block = std::unique_ptr<char16_t[], detail::BlockRelease>;
    // Uninitialised. Large blocks come from the system itself: given back, they leave the
    // process at once, where the allocator would keep the smaller copies of a growing log
    // box resident for reuse.
    [[nodiscard]] static Block allocateBlock(qsizetype codeUnits);

    [[nodiscard]] qsizetype gapLength() const { return gapEnd_ - gapStart_; }
    void moveGapTo(qsizetype pos);
    void reserveGap(qsizetype needed);

    // Not value-initialised: untouched capacity costs address space, not resident memory.
    Block data_;
    qsizetype capacity_ = 0;
    qsizetype gapStart_ = 0;
    qsizetype gapEnd_ = 0;
};

} // namespace norvak
