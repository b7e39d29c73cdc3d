#pragma once
#include <cstddef>
#include <cstdint>

namespace jet {

// RC4 keystream, used by Jet to mask part of the header page.
class Rc4 {
public:
    Rc4(const uint8_t* key, size_t keyLength);
    void apply(uint8_t* data, size_t n);

private:
    uint8_t state_[256];
    uint8_t i_ = 0, j_ = 0;
};

} // namespace jet
