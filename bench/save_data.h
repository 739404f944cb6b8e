// Deterministic stand-ins for a save's files, shared by the microbenchmarks and the generator that the
// whole-process benchmark runs: the same seed and length give the same bytes on every machine.
#ifndef TOVREL_BENCH_SAVE_DATA_H_
#define TOVREL_BENCH_SAVE_DATA_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace tovrel {
namespace bench {

// `length` bytes laid out like a game's save: fixed-size records of little-endian counters, ids that
// step, coordinates that drift, flags, and names drawn from a small vocabulary, with a little noise.
// It compresses the way such files do (a few times over), not like zeros or random bytes.
std::string StructuredSaveBytes(std::size_t length, std::uint64_t seed);

// `length` bytes of a save written as text, one record a line, as some games write theirs: a kind
// word, an id that steps, a quoted name from a small vocabulary, coordinates with two decimals that
// drift, counters and hexadecimal flags, e.g.
//   npc 1042 "Tavern keeper" pos 118.25 -42.50 hp 87 flags 0x13
// Its bytes are mostly letters, digits and spaces, unlike the binary records above.
std::string TextSaveBytes(std::size_t length, std::uint64_t seed);

// `length` bytes that do not compress, like the picture stored beside a save.
std::string IncompressibleBytes(std::size_t length, std::uint64_t seed);

}  // namespace bench
}  // namespace tovrel

#endif  // TOVREL_BENCH_SAVE_DATA_H_
