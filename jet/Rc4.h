#pragma once
#include <cstddef>
#include <cstdint>

namespace jet {

// RC4 keystream: Jet masks part of the header page with it, and encrypts
// every other page of an encoded file.
class Rc4 {
public:
    Rc4(const uint8_t* key, size_t keyLength);
    void apply(uint8_t* data, size_t n);

private:
    uint8_t state_[256];
    uint8_t i_ = 0, j_ = 0;
};

} // namespace jet
