#include "save_data.h"

namespace tovrel {
namespace bench {
namespace {

// splitmix64: tiny, fast, and the same everywhere
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::uint32_t Below(std::uint32_t bound) { return static_cast<std::uint32_t>(Next() % bound); }

 private:
  std::uint64_t state_;
};

void Put16(std::string* out, std::uint32_t value) {
  out->push_back(static_cast<char>(value & 0xFF));
  out->push_back(static_cast<char>((value >> 8) & 0xFF));
}

void Put32(std::string* out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

const char* const kNames[] = {"goblin_archer", "iron_sword",     "healing_potion", "old_mill_key",
                              "wolf_pelt",     "village_elder",  "torch",          "bandit_camp",
                              "silver_ring",   "quest_lost_cow", "bread",          "merchant_tobin",
                              "oak_bow",       "cave_troll",     "map_fragment",   "leather_boots"};
constexpr std::uint32_t kNameCount = sizeof kNames / sizeof kNames[0];

}  // namespace

std::string StructuredSaveBytes(std::size_t length, std::uint64_t seed) {
  Random random(seed);
  std::string out;
  out.reserve(length + 64);
  out.append("BRASKSAVE", 9);
  Put32(&out, 7);  // format version
  std::uint32_t id = 1000;
  std::int32_t x = 5000, y = 3000, z = 40;
  std::uint32_t tick = 0;
  while (out.size() < length) {
    // one record: type, id, position, counters, flags, a name padded to 16 bytes, a checksum-like word
    const std::uint32_t type = random.Below(6);
    Put16(&out, type);
    id += 1 + random.Below(3);
    Put32(&out, id);
    x += static_cast<std::int32_t>(random.Below(9)) - 4;
    y += static_cast<std::int32_t>(random.Below(9)) - 4;
    z += static_cast<std::int32_t>(random.Below(3)) - 1;
    Put32(&out, static_cast<std::uint32_t>(x));
    Put32(&out, static_cast<std::uint32_t>(y));
    Put16(&out, static_cast<std::uint32_t>(z) & 0xFFFF);
    tick += 16 + random.Below(4);
    Put32(&out, tick);
    Put16(&out, 100 - random.Below(type == 0 ? 100 : 3));  // health: mostly full
    Put16(&out, random.Below(4) == 0 ? random.Below(1000) : 0);
    out.push_back(static_cast<char>(1u << random.Below(8)));
    const char* name = kNames[random.Below(kNameCount)];
    std::string field(name);
    field.resize(16, '\0');
    out += field;
    Put32(&out, static_cast<std::uint32_t>(random.Next()));  // noise that never repeats
  }
  out.resize(length);
  return out;
}

std::string IncompressibleBytes(std::size_t length, std::uint64_t seed) {
  Random random(seed);
  std::string out(length, '\0');
  for (std::size_t i = 0; i < length; i += 8) {
    const std::uint64_t word = random.Next();
    for (std::size_t j = 0; j < 8 && i + j < length; ++j) out[i + j] = static_cast<char>(word >> (8 * j));
  }
  return out;
}

}  // namespace bench
}  // namespace tovrel
