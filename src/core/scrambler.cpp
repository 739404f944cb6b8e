#include "core/scrambler.h"

namespace tovrel {

void ScrambleSaveData(unsigned char* data, std::uint32_t length, std::uint32_t key) {
  // the two words enter the mask only through their product, which is why the transform undoes itself:
  // unscrambling runs with the words' roles exchanged and meets the same mask at every byte
  std::uint32_t inWord = key >> 16;
  std::uint32_t outWord = key & 0xFFFF;
  for (std::uint32_t i = 0; i < length; ++i) {
    const std::uint32_t product = inWord * outWord;  // 16 x 16 bits fits 32, unsigned
    const std::uint32_t mask = (((product & 0xFFFF) - 1) & 0xFFFF) ^ (product >> 16);
    const unsigned char clear = data[i];
    const auto scrambled = static_cast<unsigned char>(clear ^ (mask & 0xFF));
    data[i] = scrambled;
    inWord = (mask & 0xFF00) | clear;
    outWord = (mask & 0xFF00) | scrambled;
  }
}

}  // namespace tovrel
