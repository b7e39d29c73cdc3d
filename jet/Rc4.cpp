#include "jet/Rc4.h"

#include <utility>

namespace jet {

Rc4::Rc4(const uint8_t* key, size_t keyLength)
{
    for (int k = 0; k < 256; ++k) state_[k] = uint8_t(k);
    uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = uint8_t(j + state_[k] + key[size_t(k) % keyLength]);
        std::swap(state_[k], state_[j]);
    }
}

void Rc4::apply(uint8_t* data, size_t n)
{
    for (size_t k = 0; k < n; ++k) {
        i_ = uint8_t(i_ + 1);
        j_ = uint8_t(j_ + state_[i_]);
        std::swap(state_[i_], state_[j_]);
        data[k] ^= state_[uint8_t(state_[i_] + state_[j_])];
    }
}

} // namespace jet
