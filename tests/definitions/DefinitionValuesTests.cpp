// The number rules of the definition document's attributes; flags, poll result names and
// MIDIDeviceID are tested through the loader.

#include "definitions/DefinitionValues.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vfu::definitions;

TEST (DefinitionValues, reads_an_integer_up_to_the_first_character_that_is_no_digit)
{
    EXPECT_EQ (readInteger ("45"), 45);
    EXPECT_EQ (readInteger ("  \t\r\n 45"), 45);
    EXPECT_EQ (readInteger ("45x7"), 45);
    EXPECT_EQ (readInteger ("-12"), -12);
    EXPECT_EQ (readInteger ("+12"), 12);
    EXPECT_EQ (readInteger ("4.9"), 4);
    EXPECT_EQ (readInteger ("0x20"), 0);
}

TEST (DefinitionValues, reads_text_without_digits_as_zero)
{
    EXPECT_EQ (readInteger (""), 0);
    EXPECT_EQ (readInteger ("abc"), 0);
    EXPECT_EQ (readInteger ("-"), 0);
    EXPECT_EQ (readInteger ("- 5"), 0);
    EXPECT_EQ (readInteger ("+-5"), 0);
}

TEST (DefinitionValues, saturates_integers_beyond_the_32_bit_range)
{
    EXPECT_EQ (readInteger ("2147483647"), std::numeric_limits<int>::max());
    EXPECT_EQ (readInteger ("2147483648"), std::numeric_limits<int>::max());
    EXPECT_EQ (readInteger ("99999999999999999999999"), std::numeric_limits<int>::max());
    EXPECT_EQ (readInteger ("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ (readInteger ("-99999999999999999999999"), std::numeric_limits<int>::min());
}

TEST (DefinitionValues, reads_decimals_as_floats_and_non_numbers_as_zero)
{
    EXPECT_FLOAT_EQ (readDecimal ("0.082"), 0.082f);
    EXPECT_FLOAT_EQ (readDecimal (" 5.0 seconds"), 5.0f);
    EXPECT_FLOAT_EQ (readDecimal ("-2"), -2.0f);
    EXPECT_FLOAT_EQ (readDecimal ("1e2"), 100.0f);
    EXPECT_EQ (readDecimal (""), 0.0f);
    EXPECT_EQ (readDecimal ("five"), 0.0f);
    EXPECT_EQ (readDecimal ("NaN"), 0.0f);
    EXPECT_EQ (readDecimal ("-inf"), 0.0f);
    EXPECT_EQ (readDecimal ("1e300"), 0.0f);
}
