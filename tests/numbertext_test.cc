// The text of a FEX number field as the handlers bind it: the direct reading
// of plain stored digits must give exactly what the table layer's conversion
// plus the general format gives, and must leave everything else to them.
#include <gtest/gtest.h>

#include <charconv>
#include <random>
#include <string>

#include "processing/handlers_common.h"
#include "qsmlib/fex.h"
#include "support/testutil.h"

namespace {

std::string General(long double value) {
  char buffer[64];
  auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, static_cast<double>(value),
                                    std::chars_format::general, 15);
  EXPECT_EQ(error, std::errc());
  return std::string(buffer, end);
}

TEST(PlainNumberText, WritesPlainDigitsInTheGeneralFormat) {
  struct Case {
    const char* stored;
    unsigned precision;
    const char* expected;  // nullptr: not plain, left to the table layer
  } cases[] = {
      {"00001250000", 4, "125"},
      {"00000125000", 4, "12.5"},
      {"-0000125000", 4, "-12.5"},
      {"+0000125000", 4, "12.5"},
      {"   12500", 4, "1.25"},
      {"  -12500", 4, "-1.25"},
      {"0000000500", 4, "0.05"},
      {"0000000001", 4, "0.0001"},
      {"0000000000", 4, "0"},
      {"00000700", 0, "700"},
      {"1234", 6, "0.1234"},               // no wider than its precision: all fraction
      {"123456789012345", 0, "123456789012345"},
      {"12345678901234.5", 0, nullptr},    // a point of its own
      {"1234567890123456", 0, nullptr},    // 16 significant digits
      {"1000000000000000", 0, nullptr},    // the general format writes an exponent
      {"0000000000001", 8, nullptr},       // 1E-8: an exponent too
      {"-000000000", 4, nullptr},          // a negative zero keeps its sign
      {"00012 500", 4, nullptr},           // a blank inside
      {"00001250.0", 4, nullptr},
      {"  ", 0, nullptr},
      {"", 2, nullptr},
      {" 12", 4, nullptr},                 // a blank after the implied point
  };
  for (const Case& c : cases) {
    std::string out = "previous";
    const bool plain = PlainNumberText(c.stored, c.precision, out);
    if (c.expected == nullptr) {
      EXPECT_FALSE(plain) << c.stored;
      EXPECT_EQ(out, "previous") << c.stored;
    } else {
      EXPECT_TRUE(plain) << c.stored;
      EXPECT_EQ(out, c.expected) << c.stored;
    }
  }
}

// Random stored texts in fields of every size and precision: where the direct
// reading answers, the table layer reads the same number.
TEST(PlainNumberText, AgreesWithTheTableLayersConversion) {
  testutil::TempDir dir;
  std::mt19937 random(20261211);
  const std::string alphabet = "00000001234567899  -+.eE";
  int answered = 0;
  for (int size = 1; size <= 18; ++size) {
    for (int precision = 0; precision <= 6; ++precision) {
      TFEX t;
      ASSERT_TRUE(FexCreate(t, dir / "n.fex", "NUMEROS", "01"));
      FexAddField(t, "VL", fxFloat, size, precision, 0);
      FexPost(t, FexAppend(t));
      FexRead(t, 1);
      FieldDescriptor field;
      ASSERT_EQ(FexFindField(t, "VL", &field), 0);
      for (int k = 0; k < 400; ++k) {
        std::string stored(field.size, '0');
        for (char& c : stored) {
          c = k % 2 ? alphabet[random() % alphabet.size()] : static_cast<char>('0' + random() % 10);
        }
        if (k % 4 == 2) {  // leading blanks and a sign, as a device may pad
          const std::size_t blanks = random() % stored.size();
          stored.replace(0, blanks, blanks, ' ');
          if (random() % 2) stored[blanks] = random() % 2 ? '-' : '+';
        }
        t.RecordBuffer.replace(field.offset, field.size, stored);
        std::string text;
        if (!PlainNumberText(stored, field.precision, text)) continue;
        ++answered;
        long double value = 0;
        ASSERT_NO_THROW(value = FexGetFloat(t, "VL")) << stored;
        EXPECT_EQ(text, General(value)) << "stored '" << stored << "' precision " << precision;
      }
      FexClose(t);
    }
  }
  EXPECT_GT(answered, 10000);
}

}  // namespace
