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

const char* const kTextNames[] = {"Tavern keeper", "Goblin archer", "Village elder", "Old mill key",
                                  "Iron sword",    "Healing potion", "Wolf pelt",    "Bandit camp",
                                  "Silver ring",   "Lost cow",       "Merchant Tobin", "Oak bow",
                                  "Cave troll",    "Map fragment",   "Leather boots", "Torch"};
constexpr std::uint32_t kTextNameCount = sizeof kTextNames / sizeof kTextNames[0];
const char* const kTextKinds[] = {"npc", "item", "chest", "quest", "door", "var"};
constexpr std::uint32_t kTextKindCount = sizeof kTextKinds / sizeof kTextKinds[0];

void PutNumber(std::string* out, std::int64_t value) { *out += std::to_string(value); }

// hundredths as a decimal with two places, "-42.50": integers only, so every machine writes the same
void PutHundredths(std::string* out, std::int64_t hundredths) {
  if (hundredths < 0) {
    out->push_back('-');
    hundredths = -hundredths;
  }
  PutNumber(out, hundredths / 100);
  out->push_back('.');
  out->push_back(static_cast<char>('0' + hundredths % 100 / 10));
  out->push_back(static_cast<char>('0' + hundredths % 10));
}

void PutHex(std::string* out, std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  out->append("0x");
  out->push_back(kDigits[(value >> 4) & 0xF]);
  out->push_back(kDigits[value & 0xF]);
}

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

std::string TextSaveBytes(std::size_t length, std::uint64_t seed) {
  Random random(seed);
  std::string out;
  out.reserve(length + 128);
  out.append("# Brask save, format 7\n");
  std::uint32_t id = 1000;
  std::int64_t x = 11825, y = -4250;  // hundredths
  std::uint32_t tick = 0;
  while (out.size() < length) {
    const std::uint32_t kind = random.Below(kTextKindCount);
    out += kTextKinds[kind];
    out.push_back(' ');
    id += 1 + random.Below(3);
    PutNumber(&out, id);
    out.append(" \"");
    out += kTextNames[random.Below(kTextNameCount)];
    out.append("\" pos ");
    x += static_cast<std::int64_t>(random.Below(801)) - 400;
    y += static_cast<std::int64_t>(random.Below(801)) - 400;
    PutHundredths(&out, x);
    out.push_back(' ');
    PutHundredths(&out, y);
    out.append(" hp ");
    PutNumber(&out, 100 - random.Below(kind == 0 ? 100 : 3));  // mostly full
    tick += 16 + random.Below(4);
    out.append(" t ");
    PutNumber(&out, tick);
    if (random.Below(4) == 0) {
      out.append(" gold ");
      PutNumber(&out, random.Below(1000));
    }
    out.append(" flags ");
    PutHex(&out, random.Below(256));
    out.push_back('\n');
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
