#include "app/DeviceChoice.h"

#include <algorithm>

int RowOfStoredDevice(const std::vector<std::string>& rows, const std::string& stored) {
    if (rows.empty())
        return -1;
    if (stored.empty())
        return 0;
    const auto it = std::find(rows.begin(), rows.end(), stored);
    return it == rows.end() ? -1 : static_cast<int>(it - rows.begin());
}

std::string DeviceToStore(const std::vector<std::string>& rows, int selectedRow, const std::string& stored) {
    if (selectedRow < 0 || selectedRow >= static_cast<int>(rows.size()))
        return stored;
    return rows[selectedRow];
}
