// Back ends behind the mixer interface: each lists its mixer devices and opens them. An open device
// describes its lines and controls once and then reads and writes control values; the interface does
// the numbering, the checks and the change messages.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/MixerApi.h"

struct SMixerControlInfo {
    uint32_t id;  // unique within the device
    uint32_t type;
    uint32_t flags;
    uint32_t multipleItems;
    std::string shortName;
    std::string name;
    uint32_t minimum;
    uint32_t maximum;
    uint32_t steps;
};

struct SMixerLineInfo {
    uint32_t componentType;
    uint32_t channels;
    std::string shortName;
    std::string name;
    std::vector<SMixerControlInfo> controls;
};

struct SMixerDestinationInfo {
    SMixerLineInfo line;
    std::vector<SMixerLineInfo> sources;
};

struct SMixerLayout {
    std::string name;
    std::vector<SMixerDestinationInfo> destinations;
};

// Used from the thread that opened it, except that `changed` may be called from any thread.
class IMixerDevice {
public:
    virtual ~IMixerDevice() = default;
    // Fixed while the device is open.
    virtual const SMixerLayout& Layout() const = 0;
    // One value per channel of the control's line (one in all for a uniform control), times the item
    // count of a control with several items; each within the control's bounds.
    virtual MMRESULT GetValues(uint32_t controlId, std::vector<uint32_t>& values) = 0;
    virtual MMRESULT SetValues(uint32_t controlId, const std::vector<uint32_t>& values) = 0;
    // From now on, report every control whose value changed, whoever changed it.
    virtual void Watch(std::function<void(uint32_t controlId)> changed) = 0;
    // For back ends that learn of changes only when they look: how often to look (0: never), and the
    // look itself, made on the opening thread.
    virtual int CheckIntervalMs() const { return 0; }
    virtual void CheckForChanges() {}
};

class IMixerBackend {
public:
    virtual ~IMixerBackend() = default;
    virtual std::vector<std::string> Devices() = 0;
    virtual MMRESULT Open(const std::string& name, std::unique_ptr<IMixerDevice>& device) = 0;
};

// The back ends in the order their devices are listed. The process starts with ALSA alone (a virtual
// mixer would make a fader look bound to nothing); tests and the headless client choose their own.
void SetMixerBackends(std::vector<std::shared_ptr<IMixerBackend>> backends);
std::vector<std::shared_ptr<IMixerBackend>> GetMixerBackends();
