// The driver list: every capture driver's name with its index, ordered by name, rebuilt at each
// enumeration. Two drivers with one name are listed once, with the lower index.
#pragma once

#include <map>
#include <string>

using CDriverList = std::map<std::string, int>;

// Empties the process-wide list and fills it from the capture back ends (indexes 0 to 254); returns a copy.
CDriverList EnumerateDrivers();
// The index of `name` in a fresh enumeration, -1 when it is not there.
int FindDriver(const std::string& name);
