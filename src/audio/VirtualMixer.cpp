#include "audio/VirtualMixer.h"

#include <algorithm>

// One open handle: a view of the device, fixed in layout, told of every change while it watches.
class CVirtualMixer::CHandle : public IMixerDevice {
public:
    CHandle(std::shared_ptr<CVirtualMixer> mixer, SMixerLayout layout)
        : m_pMixer(std::move(mixer)), m_layout(std::move(layout)) {
        std::lock_guard<std::mutex> lock(m_pMixer->m_mutex);
        m_pMixer->m_handles.push_back(this);
    }
    ~CHandle() override {
        std::lock_guard<std::mutex> lock(m_pMixer->m_mutex);
        auto& handles = m_pMixer->m_handles;
        handles.erase(std::remove(handles.begin(), handles.end(), this), handles.end());
    }

    const SMixerLayout& Layout() const override { return m_layout; }

    MMRESULT GetValues(uint32_t controlId, std::vector<uint32_t>& values) override {
        std::lock_guard<std::mutex> lock(m_pMixer->m_mutex);
        if (m_pMixer->m_bFailReads)
            return MMSYSERR_ERROR;
        const auto* found = m_pMixer->Find(controlId);
        if (found == nullptr)
            return MIXERR_INVALCONTROL;
        values = *found;
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetValues(uint32_t controlId, const std::vector<uint32_t>& values) override {
        std::lock_guard<std::mutex> lock(m_pMixer->m_mutex);
        if (m_pMixer->m_bFailWrites)
            return MMSYSERR_ERROR;
        auto* found = m_pMixer->Find(controlId);
        if (found == nullptr)
            return MIXERR_INVALCONTROL;
        if (found->size() != values.size())
            return MMSYSERR_INVALPARAM;
        *found = values;
        ++m_pMixer->m_nWrites;
        m_pMixer->NotifyLocked(controlId);
        return MMSYSERR_NOERROR;
    }

    void Watch(std::function<void(uint32_t)> changed) override {
        std::lock_guard<std::mutex> lock(m_pMixer->m_mutex);
        m_changed = std::move(changed);
    }

    // Called with the device's lock held.
    void Changed(uint32_t id) {
        if (m_changed)
            m_changed(id);
    }

private:
    std::shared_ptr<CVirtualMixer> m_pMixer;
    SMixerLayout m_layout;
    std::function<void(uint32_t)> m_changed;
};

uint32_t CVirtualMixer::AddDestination(uint32_t componentType, uint32_t channels, const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SMixerDestinationInfo dest;
    dest.line = SMixerLineInfo{componentType, channels, name.substr(0, 15), name, {}};
    m_layout.destinations.push_back(std::move(dest));
    return static_cast<uint32_t>(m_layout.destinations.size() - 1);
}

uint32_t CVirtualMixer::AddSource(uint32_t destination, uint32_t componentType, uint32_t channels,
                                  const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto& sources = m_layout.destinations.at(destination).sources;
    sources.push_back(SMixerLineInfo{componentType, channels, name.substr(0, 15), name, {}});
    return static_cast<uint32_t>(sources.size() - 1);
}

SMixerLineInfo* CVirtualMixer::Line(uint32_t destination, int source) {
    auto& dest = m_layout.destinations.at(destination);
    return source < 0 ? &dest.line : &dest.sources.at(static_cast<size_t>(source));
}

uint32_t CVirtualMixer::AddControl(uint32_t destination, int source, uint32_t type, uint32_t minimum,
                                   uint32_t maximum, uint32_t steps, uint32_t flags, uint32_t multipleItems,
                                   const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    SMixerLineInfo* line = Line(destination, source);
    const uint32_t id = m_nextId++;
    line->controls.push_back(
        SMixerControlInfo{id, type, flags, multipleItems, name.substr(0, 15), name, minimum, maximum, steps});
    const size_t channels = (flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line->channels;
    const size_t items = (flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? multipleItems : 1;
    m_values.push_back(SValue{id, std::vector<uint32_t>(channels * items, minimum)});
    return id;
}

std::vector<uint32_t>* CVirtualMixer::Find(uint32_t id) {
    for (auto& v : m_values) {
        if (v.id == id)
            return &v.values;
    }
    return nullptr;
}

void CVirtualMixer::NotifyLocked(uint32_t id) {
    for (CHandle* h : m_handles)
        h->Changed(id);
}

void CVirtualMixer::SetValues(uint32_t controlId, const std::vector<uint32_t>& values) {
    std::lock_guard<std::mutex> lock(m_mutex);
    auto* found = Find(controlId);
    if (found == nullptr)
        return;
    *found = values;
    NotifyLocked(controlId);
}

std::vector<uint32_t> CVirtualMixer::Values(uint32_t controlId) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const auto& v : m_values) {
        if (v.id == controlId)
            return v.values;
    }
    return {};
}

int CVirtualMixer::WriteCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nWrites;
}

void CVirtualMixer::SetFailOpen(bool fail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bFailOpen = fail;
}

void CVirtualMixer::SetFailReads(bool fail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bFailReads = fail;
}

void CVirtualMixer::SetFailWrites(bool fail) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bFailWrites = fail;
}

int CVirtualMixer::OpenCount() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return static_cast<int>(m_handles.size());
}

void CVirtualMixerBackend::Add(std::shared_ptr<CVirtualMixer> mixer) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mixers.push_back(std::move(mixer));
}

void CVirtualMixerBackend::Clear() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_mixers.clear();
}

std::vector<std::string> CVirtualMixerBackend::Devices() {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<std::string> names;
    for (const auto& m : m_mixers) {
        std::lock_guard<std::mutex> mixerLock(m->m_mutex);
        names.push_back(m->m_layout.name);
    }
    return names;
}

MMRESULT CVirtualMixerBackend::Open(const std::string& name, std::unique_ptr<IMixerDevice>& device) {
    std::shared_ptr<CVirtualMixer> mixer;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        for (const auto& m : m_mixers) {
            std::lock_guard<std::mutex> mixerLock(m->m_mutex);
            if (m->m_layout.name == name) {
                mixer = m;
                break;
            }
        }
    }
    if (!mixer)
        return MMSYSERR_BADDEVICEID;
    SMixerLayout layout;
    {
        std::lock_guard<std::mutex> lock(mixer->m_mutex);
        if (mixer->m_bFailOpen)
            return MMSYSERR_ALLOCATED;
        layout = mixer->m_layout;
    }
    device = std::make_unique<CVirtualMixer::CHandle>(mixer, std::move(layout));
    return MMSYSERR_NOERROR;
}
