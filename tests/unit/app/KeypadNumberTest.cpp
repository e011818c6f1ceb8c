#include <gtest/gtest.h>

#include "app/KeypadNumber.h"

TEST(KeypadNumber, TakesDigitsUpToFifteenAndNothingElse) {
    CKeypadNumber number;
    EXPECT_FALSE(number.Append('a'));
    EXPECT_FALSE(number.Append('*'));
    for (char c : std::string("123456789012345"))
        EXPECT_TRUE(number.Append(c));
    EXPECT_FALSE(number.Append('6'));
    EXPECT_EQ(number.Get(), "123456789012345");
    EXPECT_TRUE(number.Backspace());
    EXPECT_TRUE(number.Append('9'));
    EXPECT_EQ(number.Get(), "123456789012349");
}

TEST(KeypadNumber, TakeAndClearEmptyEvenAFullNumber) {
    CKeypadNumber number;
    EXPECT_FALSE(number.Backspace());
    for (int i = 0; i < 15; ++i)
        number.Append('7');
    EXPECT_EQ(number.Take(), "777777777777777");
    EXPECT_TRUE(number.IsEmpty());
    for (int i = 0; i < 15; ++i)
        number.Append('7');
    number.Clear();
    EXPECT_TRUE(number.IsEmpty());
}
