#pragma once
#include <cstdint>
#include <cstring>

namespace jet {

// Little-endian access to page bytes (everything but index keys), and the
// big-endian page pointers of index entries.
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t le24(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t le64(const uint8_t* p) { return uint64_t(le32(p)) | (uint64_t(le32(p + 4)) << 32); }
inline double leDouble(const uint8_t* p)
{
    uint64_t bits = le64(p);
    double d;
    std::memcpy(&d, &bits, 8);
    return d;
}
inline float leFloat(const uint8_t* p)
{
    uint32_t bits = le32(p);
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}
inline uint32_t be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | uint32_t(p[2]); }
inline uint32_t be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline uint64_t be64(const uint8_t* p) { return (uint64_t(be32(p)) << 32) | be32(p + 4); }
inline void put16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put24(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
}
inline void put32(uint8_t* p, uint32_t v)
{
    put16(p, uint16_t(v));
    put16(p + 2, uint16_t(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v)
{
    put32(p, uint32_t(v));
    put32(p + 4, uint32_t(v >> 32));
}
inline void putDouble(uint8_t* p, double d)
{
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    put64(p, bits);
}
inline void putFloat(uint8_t* p, float f)
{
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    put32(p, bits);
}
inline void putBe24(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 16);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v);
}
inline void putBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

} // namespace jet
