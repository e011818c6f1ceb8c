// The device interface that wave devices and the capture window share: a name and Close().
#pragma once

#include <string>

class CNamedDevice {
public:
    virtual ~CNamedDevice() = default;
    virtual bool IsOpen() const { return false; }
    virtual bool SetName(const std::string& name) {
        m_strName = name;
        return true;
    }
    virtual bool Close() = 0;
    const std::string& GetName() const { return m_strName; }

protected:
    std::string m_strName;
};
