// The value rules of the definition document's attributes.

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

TEST (DefinitionValues, reads_flags_true_only_for_exactly_true)
{
    EXPECT_TRUE (readFlag ("true"));
    EXPECT_FALSE (readFlag ("True"));
    EXPECT_FALSE (readFlag (" true"));
    EXPECT_FALSE (readFlag ("1"));
    EXPECT_FALSE (readFlag (""));
}

TEST (DefinitionValues, maps_poll_result_names_after_lower_casing_and_unknown_ones_to_no_device)
{
    EXPECT_EQ (readPollResult ("No device"), NoDevice);
    EXPECT_EQ (readPollResult ("DEVICE DETECTED"), DeviceDetected);
    EXPECT_EQ (readPollResult ("Bootloader Detected"), BootloaderDetected);
    EXPECT_EQ (readPollResult ("Panel mode detected"), PanelModeDetected);
    EXPECT_EQ (readPollResult ("panel no update"), PanelNoUpdate);
    EXPECT_EQ (readPollResult ("Panel Erased"), PanelErased);
    EXPECT_EQ (readPollResult ("panel firmware sending"), PanelFirmwareSending);
    EXPECT_EQ (readPollResult ("panel firmware succeeded"), PanelFirmwareSucceeded);
    EXPECT_EQ (readPollResult ("panel update failed"), PanelUpdateFailed);

    EXPECT_EQ (readPollResult ("aborted"), NoDevice);
    EXPECT_EQ (readPollResult ("device detected "), NoDevice);
    EXPECT_EQ (readPollResult ("devicedetected"), NoDevice);
    EXPECT_EQ (readPollResult (""), NoDevice);
}

TEST (DefinitionValues, accepts_only_four_upper_case_hexadecimal_digits_as_MIDIDeviceID)
{
    EXPECT_TRUE (isMidiDeviceIdLengthValid ("0008"));
    EXPECT_FALSE (isMidiDeviceIdLengthValid ("008"));
    EXPECT_FALSE (isMidiDeviceIdLengthValid ("00008"));
    EXPECT_FALSE (isMidiDeviceIdLengthValid (""));

    EXPECT_TRUE (isMidiDeviceIdAlphabetValid ("09AF"));
    EXPECT_FALSE (isMidiDeviceIdAlphabetValid ("09af"));
    EXPECT_FALSE (isMidiDeviceIdAlphabetValid ("0 08"));
    EXPECT_FALSE (isMidiDeviceIdAlphabetValid ("00G8"));

    EXPECT_EQ (readMidiDeviceId ("0008"), 8);
    EXPECT_EQ (readMidiDeviceId ("000B"), 11);
    EXPECT_EQ (readMidiDeviceId ("1000"), 4096);
    EXPECT_EQ (readMidiDeviceId ("FFFF"), 65535);
}
