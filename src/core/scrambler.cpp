#include "core/scrambler.h"

namespace tovrel {

void ScrambleSaveData(unsigned char* data, std::uint32_t length, std::uint32_t key) {
  // the two words enter the mask only through their product, which is why the transform undoes itself:
  // unscrambling runs with the words' roles exchanged and meets the same mask at every byte.
  // 64-bit variables hold the 16-bit words: on x86-64 the register copies between steps are then
  // full-width moves, and the loop measured a few percent faster; the bytes are the same on any target
  std::uint64_t inWord = key >> 16;
  std::uint64_t outWord = key & 0xFFFF;
  const unsigned char* const end = data + length;
  for (unsigned char* at = data; at != end; ++at) {
    // each byte waits for the previous multiply, so the work between two multiplies sets the speed.
    // Both words are the mask's high byte over a low byte, the byte read or the byte written, and the
    // byte written is the byte read XOR the mask's low byte: each word is two steps from the mask.
    // The mask may carry junk above bit 15; forming the words clears it.
    const std::uint64_t product = inWord * outWord;              // 16 x 16 bits fits 32, unsigned
    const std::uint64_t mask = (product - 1) ^ (product >> 16);  // low 16 bits: (low - 1) XOR high
    const std::uint64_t read = *at;
    outWord = (mask ^ read) & 0xFFFF;
    *at = static_cast<unsigned char>(outWord);  // its low byte is the byte written
    inWord = (mask & 0xFF00) | read;
  }
}

}  // namespace tovrel
