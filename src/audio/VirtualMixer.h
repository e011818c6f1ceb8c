// Virtual mixer devices for tests and the headless client: lines and controls laid out by their owner,
// values held in memory, and changes made "elsewhere" (as another program would) through SetValues.
// Every handle opened on a device sees the same values and hears of every change.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/MixerBackend.h"

class CVirtualMixer {
public:
    explicit CVirtualMixer(std::string name) { m_layout.name = std::move(name); }

    // Laying out, before the device is opened. Returns the new destination's or source's index.
    uint32_t AddDestination(uint32_t componentType, uint32_t channels, const std::string& name);
    uint32_t AddSource(uint32_t destination, uint32_t componentType, uint32_t channels,
                       const std::string& name);
    // On a destination line (source -1) or one of its sources. Values start at the minimum. Returns the
    // control's identifier.
    uint32_t AddControl(uint32_t destination, int source, uint32_t type, uint32_t minimum, uint32_t maximum,
                        uint32_t steps, uint32_t flags = 0, uint32_t multipleItems = 0,
                        const std::string& name = "Volume");

    // A change made elsewhere: every open handle is told. Values are not checked against the bounds.
    void SetValues(uint32_t controlId, const std::vector<uint32_t>& values);
    std::vector<uint32_t> Values(uint32_t controlId) const;
    // How many times values were written through handles.
    int WriteCount() const;

    // Faults to test callers against.
    void SetFailOpen(bool fail);
    void SetFailReads(bool fail);
    void SetFailWrites(bool fail);
    int OpenCount() const;

private:
    friend class CVirtualMixerBackend;
    class CHandle;
    struct SValue {
        uint32_t id;
        std::vector<uint32_t> values;
    };
    SMixerLineInfo* Line(uint32_t destination, int source);
    std::vector<uint32_t>* Find(uint32_t id);
    void NotifyLocked(uint32_t id);

    mutable std::mutex m_mutex;
    SMixerLayout m_layout;
    std::vector<SValue> m_values;
    std::vector<CHandle*> m_handles;
    uint32_t m_nextId = 1;
    bool m_bFailOpen = false;
    bool m_bFailReads = false;
    bool m_bFailWrites = false;
    int m_nWrites = 0;
};

class CVirtualMixerBackend : public IMixerBackend {
public:
    // Listed in the order added; a device added twice is listed twice.
    void Add(std::shared_ptr<CVirtualMixer> mixer);
    void Clear();

    std::vector<std::string> Devices() override;
    MMRESULT Open(const std::string& name, std::unique_ptr<IMixerDevice>& device) override;

private:
    std::mutex m_mutex;
    std::vector<std::shared_ptr<CVirtualMixer>> m_mixers;
};
