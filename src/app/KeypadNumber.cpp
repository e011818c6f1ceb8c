#include "app/KeypadNumber.h"

bool CKeypadNumber::Append(char digit) {
    if (digit < '0' || digit > '9' || m_strNumber.size() >= kMaxDigits)
        return false;
    m_strNumber.push_back(digit);
    return true;
}

bool CKeypadNumber::Backspace() {
    if (m_strNumber.empty())
        return false;
    m_strNumber.pop_back();
    return true;
}

std::string CKeypadNumber::Take() {
    std::string number;
    number.swap(m_strNumber);
    return number;
}
