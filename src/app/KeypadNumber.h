// CKeypadNumber: the number typed on the keypad, at most 15 digits.
#pragma once

#include <string>

class CKeypadNumber {
public:
    static constexpr size_t kMaxDigits = 15;

    // Appends a digit '0' to '9' while there is room; false when it was not taken.
    bool Append(char digit);
    // Removes the last digit; false when there was none.
    bool Backspace();
    void Clear() { m_strNumber.clear(); }
    // The number for a call; the keypad is emptied for the next one.
    std::string Take();

    const std::string& Get() const { return m_strNumber; }
    bool IsEmpty() const { return m_strNumber.empty(); }

private:
    std::string m_strNumber;
};
