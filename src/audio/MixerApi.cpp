#include "audio/MixerApi.h"

#include <map>
#include <mutex>

#include "audio/AlsaMixer.h"
#include "audio/MixerBackend.h"

namespace {

constexpr uint32_t kDestinationTag = 0xFFFF0000;
constexpr uintptr_t kCheckTimerId = 1;

struct SDeviceEntry {
    std::shared_ptr<IMixerBackend> backend;
    std::string name;
};

struct SOpenMixer {
    std::shared_ptr<IMixerDevice> device;
    // Asks a device that cannot tell of changes by itself; lives on the opening thread.
    std::unique_ptr<CFunctionTarget> checker;
};

struct SMixerState {
    std::mutex mutex;
    bool bDefaults = false;
    std::vector<std::shared_ptr<IMixerBackend>> backends;
    bool bListed = false;
    std::vector<SDeviceEntry> devices;
    std::map<uintptr_t, SOpenMixer> open;
    uintptr_t nextHandle = 1;
};

SMixerState& State() {
    static SMixerState s;
    return s;
}

void MakeDefaultsLocked(SMixerState& s) {
    if (!s.bDefaults) {
        s.bDefaults = true;
        s.backends = {CreateAlsaMixerBackend()};
    }
}

std::vector<SDeviceEntry> ListLocked(SMixerState& s) {
    MakeDefaultsLocked(s);
    std::vector<SDeviceEntry> list;
    for (const auto& b : s.backends) {
        if (!b)
            continue;
        for (auto& name : b->Devices())
            list.push_back({b, std::move(name)});
    }
    return list;
}

std::shared_ptr<IMixerDevice> FindDevice(HMIXER hmx) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.open.find(reinterpret_cast<uintptr_t>(hmx));
    return it == s.open.end() ? nullptr : it->second.device;
}

uint32_t DestinationLineId(uint32_t d) {
    return kDestinationTag | d;
}

uint32_t SourceLineId(uint32_t d, uint32_t s) {
    return (s << 16) | d;
}

const SMixerLineInfo* LineById(const SMixerLayout& layout, uint32_t lineId) {
    const uint32_t d = lineId & 0xFFFF;
    if (d >= layout.destinations.size())
        return nullptr;
    const auto& dest = layout.destinations[d];
    if ((lineId & kDestinationTag) == kDestinationTag)
        return &dest.line;
    const uint32_t s = lineId >> 16;
    return s < dest.sources.size() ? &dest.sources[s] : nullptr;
}

void FillLine(const SMixerLineInfo& line, uint32_t connections, MIXERLINE* p) {
    p->dwComponentType = line.componentType;
    p->cChannels = line.channels;
    p->cConnections = connections;
    p->cControls = static_cast<uint32_t>(line.controls.size());
    p->szShortName = line.shortName;
    p->szName = line.name;
}

void FillControl(const SMixerControlInfo& c, MIXERCONTROL* p) {
    p->dwControlID = c.id;
    p->dwControlType = c.type;
    p->fdwControl = c.flags;
    p->cMultipleItems = c.multipleItems;
    p->szShortName = c.shortName;
    p->szName = c.name;
    p->Bounds.dwMinimum = c.minimum;
    p->Bounds.dwMaximum = c.maximum;
    p->Metrics.cSteps = c.steps;
}

// The control with its line, found by identifier anywhere on the device.
bool ControlById(const SMixerLayout& layout, uint32_t id, const SMixerControlInfo*& control,
                 const SMixerLineInfo*& line) {
    auto search = [&](const SMixerLineInfo& l) {
        for (const auto& c : l.controls) {
            if (c.id == id) {
                control = &c;
                line = &l;
                return true;
            }
        }
        return false;
    };
    for (const auto& dest : layout.destinations) {
        if (search(dest.line))
            return true;
        for (const auto& src : dest.sources) {
            if (search(src))
                return true;
        }
    }
    return false;
}

// The values block a control's details must describe: channel count times item count.
MMRESULT CheckDetails(const SMixerLayout& layout, const MIXERCONTROLDETAILS* pmxcd, uint32_t flags,
                      const SMixerControlInfo*& control, size_t& count) {
    if (pmxcd == nullptr || pmxcd->paDetails == nullptr || pmxcd->cbDetails != sizeof(uint32_t))
        return MMSYSERR_INVALPARAM;
    if (flags != MIXER_GETCONTROLDETAILSF_VALUE)
        return MMSYSERR_INVALFLAG;
    const SMixerLineInfo* line = nullptr;
    if (!ControlById(layout, pmxcd->dwControlID, control, line))
        return MIXERR_INVALCONTROL;
    const uint32_t channels = (control->flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line->channels;
    const bool multiple = (control->flags & MIXERCONTROL_CONTROLF_MULTIPLE) != 0;
    if (pmxcd->cChannels != channels || pmxcd->cMultipleItems != control->multipleItems || channels == 0)
        return MMSYSERR_INVALPARAM;
    count = static_cast<size_t>(channels) * (multiple ? control->multipleItems : 1);
    return count == 0 ? MMSYSERR_INVALPARAM : MMSYSERR_NOERROR;
}

}  // namespace

void SetMixerBackends(std::vector<std::shared_ptr<IMixerBackend>> backends) {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.bDefaults = true;
    s.backends = std::move(backends);
    s.bListed = false;
    s.devices.clear();
}

std::vector<std::shared_ptr<IMixerBackend>> GetMixerBackends() {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    MakeDefaultsLocked(s);
    return s.backends;
}

UINT mixerGetNumDevs() {
    auto& s = State();
    std::lock_guard<std::mutex> lock(s.mutex);
    s.devices = ListLocked(s);
    s.bListed = true;
    return static_cast<UINT>(s.devices.size());
}

MMRESULT mixerOpen(HMIXER* phmx, UINT uMxId, HWND hWndCallback, uintptr_t /*dwInstance*/, uint32_t fdwOpen) {
    if (phmx == nullptr)
        return MMSYSERR_INVALPARAM;
    *phmx = nullptr;
    if ((fdwOpen & ~CALLBACK_WINDOW) != 0)
        return MMSYSERR_INVALFLAG;
    const bool notify = (fdwOpen & CALLBACK_WINDOW) != 0;
    if (notify && !IsWindow(hWndCallback))
        return MMSYSERR_INVALPARAM;

    auto& s = State();
    SDeviceEntry entry;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        if (!s.bListed) {
            s.devices = ListLocked(s);
            s.bListed = true;
        }
        if (uMxId >= s.devices.size())
            return MMSYSERR_BADDEVICEID;
        entry = s.devices[uMxId];
    }
    std::unique_ptr<IMixerDevice> device;
    const MMRESULT rc = entry.backend->Open(entry.name, device);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    if (!device)
        return MMSYSERR_NODRIVER;

    SOpenMixer open;
    open.device = std::move(device);
    uintptr_t handle = 0;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        handle = s.nextHandle++;
    }
    if (notify) {
        open.device->Watch([hWndCallback, handle](uint32_t controlId) {
            PostMessage(hWndCallback, MM_MIXM_CONTROL_CHANGE, handle, static_cast<LPARAM>(controlId));
        });
        const int interval = open.device->CheckIntervalMs();
        if (interval > 0) {
            IMixerDevice* pDevice = open.device.get();
            open.checker =
                std::make_unique<CFunctionTarget>([pDevice](UINT msg, WPARAM id, LPARAM) -> LRESULT {
                    if (msg == WM_TIMER && id == kCheckTimerId)
                        pDevice->CheckForChanges();
                    return 0;
                });
            SetTimer(open.checker->GetSafeHwnd(), kCheckTimerId, static_cast<UINT>(interval));
        }
    }
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        s.open.emplace(handle, std::move(open));
    }
    *phmx = reinterpret_cast<HMIXER>(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT mixerClose(HMIXER hmx) {
    auto& s = State();
    SOpenMixer open;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.open.find(reinterpret_cast<uintptr_t>(hmx));
        if (it == s.open.end())
            return MMSYSERR_INVALHANDLE;
        open = std::move(it->second);
        s.open.erase(it);
    }
    // The checker goes first: its timer uses the device.
    open.checker.reset();
    open.device.reset();
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetDevCaps(HMIXER hmx, MIXERCAPS* pmxcaps) {
    if (pmxcaps == nullptr)
        return MMSYSERR_INVALPARAM;
    auto device = FindDevice(hmx);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const auto& layout = device->Layout();
    pmxcaps->szPname = layout.name;
    pmxcaps->cDestinations = static_cast<uint32_t>(layout.destinations.size());
    return MMSYSERR_NOERROR;
}

MMRESULT mixerGetLineInfo(HMIXER hmx, MIXERLINE* pmxl, uint32_t fdwInfo) {
    if (pmxl == nullptr)
        return MMSYSERR_INVALPARAM;
    auto device = FindDevice(hmx);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const auto& dests = device->Layout().destinations;
    switch (fdwInfo) {
        case MIXER_GETLINEINFOF_DESTINATION: {
            const uint32_t d = pmxl->dwDestination;
            if (d >= dests.size())
                return MIXERR_INVALLINE;
            FillLine(dests[d].line, static_cast<uint32_t>(dests[d].sources.size()), pmxl);
            pmxl->dwSource = 0;
            pmxl->dwLineID = DestinationLineId(d);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINEINFOF_SOURCE: {
            const uint32_t d = pmxl->dwDestination;
            const uint32_t src = pmxl->dwSource;
            if (d >= dests.size() || src >= dests[d].sources.size())
                return MIXERR_INVALLINE;
            FillLine(dests[d].sources[src], 0, pmxl);
            pmxl->dwLineID = SourceLineId(d, src);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINEINFOF_LINEID: {
            const SMixerLineInfo* line = LineById(device->Layout(), pmxl->dwLineID);
            if (line == nullptr)
                return MIXERR_INVALLINE;
            const uint32_t d = pmxl->dwLineID & 0xFFFF;
            const bool isDest = (pmxl->dwLineID & kDestinationTag) == kDestinationTag;
            FillLine(*line, isDest ? static_cast<uint32_t>(dests[d].sources.size()) : 0, pmxl);
            pmxl->dwDestination = d;
            pmxl->dwSource = isDest ? 0 : pmxl->dwLineID >> 16;
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINEINFOF_COMPONENTTYPE:
            for (uint32_t d = 0; d < dests.size(); ++d) {
                if (dests[d].line.componentType == pmxl->dwComponentType) {
                    FillLine(dests[d].line, static_cast<uint32_t>(dests[d].sources.size()), pmxl);
                    pmxl->dwDestination = d;
                    pmxl->dwSource = 0;
                    pmxl->dwLineID = DestinationLineId(d);
                    return MMSYSERR_NOERROR;
                }
                for (uint32_t src = 0; src < dests[d].sources.size(); ++src) {
                    if (dests[d].sources[src].componentType == pmxl->dwComponentType) {
                        FillLine(dests[d].sources[src], 0, pmxl);
                        pmxl->dwDestination = d;
                        pmxl->dwSource = src;
                        pmxl->dwLineID = SourceLineId(d, src);
                        return MMSYSERR_NOERROR;
                    }
                }
            }
            return MIXERR_INVALLINE;
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT mixerGetLineControls(HMIXER hmx, MIXERLINECONTROLS* pmxlc, uint32_t fdwControls) {
    if (pmxlc == nullptr || pmxlc->pamxctrl == nullptr || pmxlc->cControls == 0)
        return MMSYSERR_INVALPARAM;
    auto device = FindDevice(hmx);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const auto& layout = device->Layout();
    switch (fdwControls) {
        case MIXER_GETLINECONTROLSF_ONEBYTYPE: {
            const SMixerLineInfo* line = LineById(layout, pmxlc->dwLineID);
            if (line == nullptr)
                return MIXERR_INVALLINE;
            for (const auto& c : line->controls) {
                if (c.type == pmxlc->dwControl) {
                    FillControl(c, pmxlc->pamxctrl);
                    return MMSYSERR_NOERROR;
                }
            }
            return MIXERR_INVALCONTROL;
        }
        case MIXER_GETLINECONTROLSF_ONEBYID: {
            const SMixerControlInfo* control = nullptr;
            const SMixerLineInfo* line = nullptr;
            if (!ControlById(layout, pmxlc->dwControl, control, line))
                return MIXERR_INVALCONTROL;
            FillControl(*control, pmxlc->pamxctrl);
            return MMSYSERR_NOERROR;
        }
        case MIXER_GETLINECONTROLSF_ALL: {
            const SMixerLineInfo* line = LineById(layout, pmxlc->dwLineID);
            if (line == nullptr)
                return MIXERR_INVALLINE;
            if (pmxlc->cControls < line->controls.size())
                return MMSYSERR_INVALPARAM;
            for (size_t i = 0; i < line->controls.size(); ++i)
                FillControl(line->controls[i], &pmxlc->pamxctrl[i]);
            return MMSYSERR_NOERROR;
        }
        default:
            return MMSYSERR_INVALFLAG;
    }
}

MMRESULT mixerGetControlDetails(HMIXER hmx, MIXERCONTROLDETAILS* pmxcd, uint32_t fdwDetails) {
    auto device = FindDevice(hmx);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const SMixerControlInfo* control = nullptr;
    size_t count = 0;
    MMRESULT rc = CheckDetails(device->Layout(), pmxcd, fdwDetails, control, count);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    std::vector<uint32_t> values;
    rc = device->GetValues(control->id, values);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    if (values.size() != count)
        return MMSYSERR_ERROR;
    auto* out = static_cast<uint32_t*>(pmxcd->paDetails);
    for (size_t i = 0; i < count; ++i)
        out[i] = values[i];
    return MMSYSERR_NOERROR;
}

MMRESULT mixerSetControlDetails(HMIXER hmx, const MIXERCONTROLDETAILS* pmxcd, uint32_t fdwDetails) {
    auto device = FindDevice(hmx);
    if (!device)
        return MMSYSERR_INVALHANDLE;
    const SMixerControlInfo* control = nullptr;
    size_t count = 0;
    const MMRESULT rc = CheckDetails(device->Layout(), pmxcd, fdwDetails, control, count);
    if (rc != MMSYSERR_NOERROR)
        return rc;
    const auto* in = static_cast<const uint32_t*>(pmxcd->paDetails);
    std::vector<uint32_t> values(in, in + count);
    for (uint32_t v : values) {
        if (v < control->minimum || v > control->maximum)
            return MIXERR_INVALVALUE;
    }
    return device->SetValues(control->id, values);
}
