#pragma once
// Little-endian loads and stores on byte buffers: stored records are read and
// written byte by byte so alignment and host byte order never matter.
#include <cstddef>
#include <cstdint>

namespace qx {

inline uint16_t LoadU16(const unsigned char *p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t LoadU32(const unsigned char *p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline int16_t LoadI16(const unsigned char *p) { return static_cast<int16_t>(LoadU16(p)); }
inline int32_t LoadI32(const unsigned char *p) { return static_cast<int32_t>(LoadU32(p)); }

inline void StoreU16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
inline void StoreU32(unsigned char *p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}
inline void StoreI16(unsigned char *p, int16_t v) { StoreU16(p, static_cast<uint16_t>(v)); }
inline void StoreI32(unsigned char *p, int32_t v) { StoreU32(p, static_cast<uint32_t>(v)); }

}  // namespace qx
