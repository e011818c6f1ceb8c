// Which entry of a settings page's device list shows the stored device, and which name the page hands
// back. A stored device that is not listed today (a headset unplugged, a camera in use elsewhere) is kept
// until the user picks another entry, so opening and applying the page never forgets it.
#pragma once

#include <string>
#include <vector>

// The row of `stored` in `rows`: the first exact match; row 0 for an empty name; -1 (nothing selected)
// for a name that is not listed or an empty list.
int RowOfStoredDevice(const std::vector<std::string>& rows, const std::string& stored);
// The name to store: the selected row's, or `stored` while nothing is selected.
std::string DeviceToStore(const std::vector<std::string>& rows, int selectedRow, const std::string& stored);
