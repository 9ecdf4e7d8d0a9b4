#include "core/VersionNumber.h"

#include <gtest/gtest.h>

#include <limits>

using namespace vfu;

TEST (VersionNumber, parses_plain_and_p_versions)
{
    EXPECT_EQ (parseVersionNumber ("2.2.1"), 2020199);
    EXPECT_EQ (parseVersionNumber ("1.1.0p0"), 1010000);
    EXPECT_EQ (parseVersionNumber ("1.1.0"), 1010099);
    EXPECT_EQ (parseVersionNumber ("1.2"), 1020099);
    EXPECT_EQ (parseVersionNumber ("1.2.3p4"), 1020304);
    EXPECT_LT (parseVersionNumber ("1.1.0p0"), parseVersionNumber ("1.1.0"));
}

TEST (VersionNumber, reads_leading_integers_and_counts_missing_parts_as_zero)
{
    EXPECT_EQ (parseVersionNumber ("Unknown"), 99);
    EXPECT_EQ (parseVersionNumber (""), 99);
    EXPECT_EQ (parseVersionNumber (" 2.+3.4x"), 2030499);
    EXPECT_EQ (parseVersionNumber ("1..5"), 1000599);
    // Five tokens: no suffix is added but 99.
    EXPECT_EQ (parseVersionNumber ("1.2.3p4.5"), 1020399);
    EXPECT_EQ (parseVersionNumber ("-1.0.0"), -1000000 + 99);
}

TEST (VersionNumber, saturates_instead_of_overflowing)
{
    EXPECT_EQ (parseVersionNumber ("99999999999.0.0"), std::numeric_limits<int>::max());
    EXPECT_EQ (parseVersionNumber ("-99999.0.0"), std::numeric_limits<int>::min());
}

TEST (VersionNumber, formats_numbers_back_to_texts)
{
    EXPECT_EQ (formatVersionNumber (2020199), "2.2.1");
    EXPECT_EQ (formatVersionNumber (1010003), "1.1.0p3");
    EXPECT_EQ (formatVersionNumber (1020099), "1.2.0");
    EXPECT_EQ (formatVersionNumber (1010000), "1.1.0p0");
    EXPECT_EQ (formatVersionNumber (99), "0.0.0");
    EXPECT_EQ (formatVersionNumber (std::numeric_limits<int>::max()), "2147.48.36p47");

    for (auto text : { "0.0.1", "3.14.15p9", "12.0.99p98", "2.2.1" })
        EXPECT_EQ (formatVersionNumber (parseVersionNumber (text)), text);
}
