#include "areas/textdb.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The NUL-terminated string at pos of the program's image.
std::string_view StringAt(std::size_t pos) {
  return std::string_view(reinterpret_cast<const char*>(textdb_dat + pos));
}

// Orders keys "N" and "N.V" as the image stores them: N descending, value keys before N itself.
std::pair<long, long> StoredRank(std::string_view key) {
  const auto dot = key.find('.');
  if (dot == std::string_view::npos) return {std::stol(std::string(key)), -1};
  return {std::stol(std::string(key.substr(0, dot))), std::stol(std::string(key.substr(dot + 1)))};
}

TEST(TextdbImage, DirectoryAndSectionsHaveTheirFixedPlaces) {
  ASSERT_EQ(textdb_size, 5720u);
  const std::vector<std::pair<std::string, std::size_t>> expected = {
      {"idp_tmsg", 42}, {"assoc_nack", 3044}, {"signal", 3153}, {"cause", 3862}};
  std::size_t pos = 0;
  for (const auto& [name, offset] : expected) {
    EXPECT_EQ(StringAt(pos), name);
    pos += name.size() + 1;
    EXPECT_EQ(textdb_dat[pos] | (textdb_dat[pos + 1] << 8), static_cast<int>(offset)) << name;
    pos += 2;
  }
  EXPECT_EQ(textdb_dat[pos], 0);  // end of the directory
  EXPECT_EQ(pos + 1, 42u);

  // Each section runs up to the next one (or the image's end), entries in descending stored
  // order, and ends with its empty key.
  const std::vector<std::size_t> entries = {160, 4, 32, 53};
  for (std::size_t s = 0; s < expected.size(); ++s) {
    const std::size_t end = s + 1 < expected.size() ? expected[s + 1].second : textdb_size;
    std::size_t at = expected[s].second;
    std::size_t count = 0;
    std::pair<long, long> previous{1L << 30, 0};
    while (at < end && textdb_dat[at] != 0) {
      const std::string_view key = StringAt(at);
      const std::pair<long, long> rank = StoredRank(key);
      EXPECT_TRUE(rank.first < previous.first || (rank.first == previous.first && rank.second < previous.second))
          << expected[s].first << " key " << key;
      previous = rank;
      at += key.size() + 1;
      at += StringAt(at).size() + 1;
      ++count;
    }
    EXPECT_EQ(count, entries[s]) << expected[s].first;
    EXPECT_EQ(at + 1, end) << expected[s].first;
  }
  EXPECT_EQ(StringAt(42), "1206");  // the highest parameter comes first
  EXPECT_EQ(StringAt(47), "Binding Parameters");
}

struct LookupCase {
  const char* section;
  const char* key;
  const char* text;  // null: not found
};

TEST(TextdbLookup, FindsWholeKeysIgnoringCase) {
  const LookupCase cases[] = {
      {"idp_tmsg", "100", "Tx_Info_Pattern"},
      {"idp_tmsg", "100.2", "INFO 3"},
      {"idp_tmsg", "100.3", "INFO 3"},
      {"idp_tmsg", "100.4", nullptr},
      {"idp_tmsg", "304.128", "Not Used"},
      {"idp_tmsg", "1003", "Speed (bps)"},
      {"idp_tmsg", "1105", "Speed (bps)"},
      {"idp_tmsg", "1000", "Network Name"},
      {"idp_tmsg", "1106.55", "Suspended"},
      {"idp_tmsg", "1206", "Binding Parameters"},
      {"idp_tmsg", "203.5", "Awaiting Multiframe Establishment"},
      // No prefix matching, no numeric normalisation.
      {"idp_tmsg", "0100", nullptr},
      {"idp_tmsg", "10", nullptr},
      {"idp_tmsg", "100.00", nullptr},
      {"idp_tmsg", "", nullptr},
      // Section names in any case, but whole.
      {"IDP_TMSG", "100", "Tx_Info_Pattern"},
      {"Idp_Tmsg", "100.1", "INFO 1"},
      {"idp_tms", "100", nullptr},
      {"idp_tmsgx", "100", nullptr},
      {"nosuch", "100", nullptr},
      // The sections the dump never uses work the same way.
      {"cause", "17", "user busy"},
      {"cause", "70", "only restricted digital information bearer capability is available"},
      {"cause", "4", nullptr},
      {"signal", "63", "tones off"},
      {"SIGNAL", "247", "expensive route warning tone"},
      {"assoc_nack", "4", "duplicate connection name"},
      {"assoc_nack", "100", nullptr},
  };
  for (const LookupCase& c : cases) {
    const char* found = db_lookup(textdb_dat, textdb_size, c.section, c.key);
    if (c.text == nullptr) {
      EXPECT_EQ(found, nullptr) << c.section << " / " << c.key;
    } else {
      ASSERT_NE(found, nullptr) << c.section << " / " << c.key;
      EXPECT_STREQ(found, c.text) << c.section << " / " << c.key;
      // The result points into the image.
      EXPECT_GE(reinterpret_cast<const std::uint8_t*>(found), textdb_dat);
      EXPECT_LT(reinterpret_cast<const std::uint8_t*>(found), textdb_dat + textdb_size);
    }
  }
}

TEST(TextdbLookup, EmptyImagesAndSectionsHoldNothing) {
  const std::uint8_t empty_image[] = {0};
  EXPECT_EQ(db_lookup(empty_image, sizeof empty_image, "idp_tmsg", "100"), nullptr);
  EXPECT_EQ(db_lookup(textdb_dat, 0, "idp_tmsg", "100"), nullptr);

  // Section "a" at 11 is empty; section "B" at 12 holds "1" -> "x".
  const std::uint8_t image[] = {'a', 0, 11, 0, 'B', 0, 12, 0, 0, 0, 0, 0, '1', 0, 'x', 0, 0};
  EXPECT_EQ(db_lookup(image, sizeof image, "a", "1"), nullptr);
  EXPECT_STREQ(db_lookup(image, sizeof image, "b", "1"), "x");
  EXPECT_EQ(db_lookup(image, sizeof image, "b", "2"), nullptr);
}

TEST(TextdbLookup, NeverReadsPastTheStatedSize) {
  // The first idp_tmsg entry, "1206" "Binding Parameters", lies at 42..65: cut inside it, the
  // lookup must give null rather than a text without its end.
  EXPECT_EQ(db_lookup(textdb_dat, 50, "idp_tmsg", "1206"), nullptr);
  EXPECT_STREQ(db_lookup(textdb_dat, 66, "idp_tmsg", "1206"), "Binding Parameters");
  // Sections whose offsets lie past the cut hold nothing.
  EXPECT_EQ(db_lookup(textdb_dat, 3100, "cause", "17"), nullptr);
  // A directory cut inside a name or before its offset ends the search.
  EXPECT_EQ(db_lookup(textdb_dat, 5, "idp_tmsg", "100"), nullptr);
  EXPECT_EQ(db_lookup(textdb_dat, 10, "idp_tmsg", "100"), nullptr);
  // A section offset pointing past the image.
  const std::uint8_t image[] = {'a', 0, 0xFF, 0x7F, 0};
  EXPECT_EQ(db_lookup(image, sizeof image, "a", "1"), nullptr);
  EXPECT_EQ(db_lookup(nullptr, 10, "a", "1"), nullptr);
  EXPECT_EQ(db_lookup(textdb_dat, textdb_size, nullptr, "1"), nullptr);
  EXPECT_EQ(db_lookup(textdb_dat, textdb_size, "cause", nullptr), nullptr);
}

}  // namespace
