#pragma once
// Helpers shared by the fuzz targets: a check that aborts (so libFuzzer
// records the input) and exact-size heap copies (so ASan sees any read past
// what the caller really handed over).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#define QX_FUZZ_CHECK(cond)                                                               \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace qx::fuzz {

// A heap block of exactly `size` bytes holding `data` (zero past `avail`).
inline std::unique_ptr<uint8_t[]> Exact(const uint8_t *data, size_t avail, size_t size) {
    std::unique_ptr<uint8_t[]> p(new uint8_t[size == 0 ? 1 : size]);
    const size_t n = avail < size ? avail : size;
    if (n != 0) std::memcpy(p.get(), data, n);
    if (size > n) std::memset(p.get() + n, 0, size - n);
    return p;
}

// Splits the input as it is consumed; reads past the end give zeros.
class Reader {
public:
    Reader(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    size_t Left() const { return size_ - pos_; }
    const uint8_t *Here() const { return data_ + pos_; }
    uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint16_t U16() { return static_cast<uint16_t>(Byte() | (Byte() << 8)); }
    uint32_t U32() { return U16() | (static_cast<uint32_t>(U16()) << 16); }
    // Up to `n` bytes; the span may be shorter at the end of the input.
    size_t Take(size_t n, const uint8_t **out) {
        *out = data_ + pos_;
        const size_t k = n < Left() ? n : Left();
        pos_ += k;
        return k;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace qx::fuzz
