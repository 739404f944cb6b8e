// Reversible in-place scrambling of a save's main file. Keyed by a 32-bit value and its own inverse, so
// packing and unpacking call the same function. Each call restarts from the key: scramble whole.
#ifndef TOVREL_CORE_SCRAMBLER_H_
#define TOVREL_CORE_SCRAMBLER_H_

#include <cstdint>

namespace tovrel {

// The key of every ".sav" member: its high half seeds the input word, its low half the output word.
constexpr std::uint32_t kScrambleKey = 0x5E3B71C4;

// Replaces each of the `length` bytes at `data` by its scrambled value, first byte first. Applying it
// twice with the same key restores the bytes. Requires: `data` points to `length` writable bytes
// (may be null when `length` is 0).
void ScrambleSaveData(unsigned char* data, std::uint32_t length, std::uint32_t key);

}  // namespace tovrel

#endif  // TOVREL_CORE_SCRAMBLER_H_
