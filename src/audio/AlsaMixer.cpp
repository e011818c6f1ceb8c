#include "audio/AlsaMixer.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <set>

namespace {

constexpr int kCheckIntervalMs = 100;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// One control of the layout and the element behind it. An element may stand behind two controls
// (the recording destination's volume and the microphone's).
struct SBinding {
    uint32_t id = 0;
    snd_mixer_elem_t* elem = nullptr;  // null once the element has gone
    bool capture = false;
    bool uniform = false;
    std::vector<snd_mixer_selem_channel_id_t> channels;
    long minimum = 0;
    long maximum = 0;
};

struct SElement {
    snd_mixer_elem_t* elem;
    std::string name;
};

class CAlsaMixerDevice : public IMixerDevice {
public:
    ~CAlsaMixerDevice() override {
        if (m_pMixer != nullptr)
            snd_mixer_close(m_pMixer);
    }

    static MMRESULT Open(const std::string& name, std::unique_ptr<IMixerDevice>& device) {
        auto d = std::unique_ptr<CAlsaMixerDevice>(new CAlsaMixerDevice());
        if (snd_mixer_open(&d->m_pMixer, 0) < 0) {
            d->m_pMixer = nullptr;
            return MMSYSERR_NOMEM;
        }
        // Non-blocking, so looking for changes never waits.
        snd_hctl_t* hctl = nullptr;
        if (snd_hctl_open(&hctl, name.c_str(), SND_CTL_NONBLOCK) < 0)
            return MMSYSERR_NODRIVER;
        // The mixer owns the control device from here on, even when attaching fails.
        if (snd_mixer_attach_hctl(d->m_pMixer, hctl) < 0 ||
            snd_mixer_selem_register(d->m_pMixer, nullptr, nullptr) < 0 || snd_mixer_load(d->m_pMixer) < 0)
            return MMSYSERR_NODRIVER;
        d->Describe(name);
        device = std::move(d);
        return MMSYSERR_NOERROR;
    }

    const SMixerLayout& Layout() const override { return m_layout; }

    MMRESULT GetValues(uint32_t controlId, std::vector<uint32_t>& values) override {
        // The simple mixer keeps the values it last heard of: hear the news first.
        Drain();
        SBinding* b = Find(controlId);
        if (b == nullptr)
            return MIXERR_INVALCONTROL;
        if (b->elem == nullptr || m_bFailed)
            return MMSYSERR_NODRIVER;
        values.clear();
        const size_t n = b->uniform ? 1 : b->channels.size();
        for (size_t i = 0; i < n; ++i) {
            long v = 0;
            const int rc = b->capture ? snd_mixer_selem_get_capture_volume(b->elem, b->channels[i], &v)
                                      : snd_mixer_selem_get_playback_volume(b->elem, b->channels[i], &v);
            if (rc < 0)
                return MMSYSERR_ERROR;
            values.push_back(static_cast<uint32_t>(std::clamp(v, b->minimum, b->maximum) - b->minimum));
        }
        return MMSYSERR_NOERROR;
    }

    MMRESULT SetValues(uint32_t controlId, const std::vector<uint32_t>& values) override {
        SBinding* b = Find(controlId);
        if (b == nullptr)
            return MIXERR_INVALCONTROL;
        if (b->elem == nullptr || m_bFailed)
            return MMSYSERR_NODRIVER;
        const size_t n = b->uniform ? 1 : b->channels.size();
        if (values.size() != n)
            return MMSYSERR_INVALPARAM;
        for (size_t i = 0; i < n; ++i) {
            const long v = std::min(b->minimum + static_cast<long>(values[i]), b->maximum);
            int rc;
            if (b->uniform) {
                rc = b->capture ? snd_mixer_selem_set_capture_volume_all(b->elem, v)
                                : snd_mixer_selem_set_playback_volume_all(b->elem, v);
            } else {
                rc = b->capture ? snd_mixer_selem_set_capture_volume(b->elem, b->channels[i], v)
                                : snd_mixer_selem_set_playback_volume(b->elem, b->channels[i], v);
            }
            if (rc < 0)
                return MMSYSERR_ERROR;
        }
        return MMSYSERR_NOERROR;
    }

    void Watch(std::function<void(uint32_t)> changed) override { m_changed = std::move(changed); }
    int CheckIntervalMs() const override { return kCheckIntervalMs; }

    void CheckForChanges() override {
        Drain();
        const std::set<uint32_t> pending = std::move(m_pending);
        m_pending.clear();
        if (m_changed) {
            for (uint32_t id : pending)
                m_changed(id);
        }
    }

private:
    CAlsaMixerDevice() = default;

    SBinding* Find(uint32_t id) {
        for (auto& b : m_bindings) {
            if (b.id == id)
                return &b;
        }
        return nullptr;
    }

    // Takes in the events waiting on the control device; element callbacks note what changed.
    void Drain() {
        if (m_pMixer == nullptr || m_bFailed)
            return;
        const int count = snd_mixer_poll_descriptors_count(m_pMixer);
        if (count <= 0)
            return;
        std::vector<pollfd> fds(static_cast<size_t>(count));
        const int filled = snd_mixer_poll_descriptors(m_pMixer, fds.data(), static_cast<unsigned>(count));
        if (filled <= 0 || poll(fds.data(), static_cast<nfds_t>(filled), 0) <= 0)
            return;
        unsigned short revents = 0;
        if (snd_mixer_poll_descriptors_revents(m_pMixer, fds.data(), static_cast<unsigned>(filled),
                                               &revents) < 0 ||
            (revents & (POLLERR | POLLNVAL | POLLHUP)) != 0) {
            Fail();
            return;
        }
        if ((revents & POLLIN) != 0 && snd_mixer_handle_events(m_pMixer) < 0)
            Fail();
    }

    // The device has gone (a card unplugged, the sound server ended): every control now fails.
    void Fail() {
        m_bFailed = true;
        for (const auto& b : m_bindings)
            m_pending.insert(b.id);
    }

    static int OnElementEvent(snd_mixer_elem_t* elem, unsigned int mask) {
        auto* self = static_cast<CAlsaMixerDevice*>(snd_mixer_elem_get_callback_private(elem));
        if (self == nullptr)
            return 0;
        const bool removed = mask == SND_CTL_EVENT_MASK_REMOVE;
        if (!removed && (mask & (SND_CTL_EVENT_MASK_VALUE | SND_CTL_EVENT_MASK_INFO)) == 0)
            return 0;
        for (auto& b : self->m_bindings) {
            if (b.elem != elem)
                continue;
            if (removed)
                b.elem = nullptr;
            self->m_pending.insert(b.id);
        }
        return 0;
    }

    static std::vector<snd_mixer_selem_channel_id_t> Channels(snd_mixer_elem_t* elem, bool capture) {
        std::vector<snd_mixer_selem_channel_id_t> channels;
        if (capture ? snd_mixer_selem_is_capture_mono(elem) : snd_mixer_selem_is_playback_mono(elem))
            return {SND_MIXER_SCHN_MONO};
        for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
            const auto ch = static_cast<snd_mixer_selem_channel_id_t>(c);
            if (capture ? snd_mixer_selem_has_capture_channel(elem, ch)
                        : snd_mixer_selem_has_playback_channel(elem, ch))
                channels.push_back(ch);
        }
        if (channels.empty())
            channels.push_back(SND_MIXER_SCHN_MONO);
        return channels;
    }

    // A line carrying one volume control bound to the element.
    SMixerLineInfo Line(const SElement& e, bool capture, uint32_t componentType) {
        SBinding b;
        b.id = m_nextId++;
        b.elem = e.elem;
        b.capture = capture;
        b.channels = Channels(e.elem, capture);
        if (capture) {
            snd_mixer_selem_get_capture_volume_range(e.elem, &b.minimum, &b.maximum);
        } else {
            snd_mixer_selem_get_playback_volume_range(e.elem, &b.minimum, &b.maximum);
        }
        b.uniform = b.channels.size() > 1 && (capture ? snd_mixer_selem_has_capture_volume_joined(e.elem)
                                                      : snd_mixer_selem_has_playback_volume_joined(e.elem));
        // Each unit of ALSA's range is a step. A range the interface cannot hold shows as none, which
        // no fader binds to.
        const long long range = static_cast<long long>(b.maximum) - b.minimum;
        const uint32_t units =
            range > 0 && range <= std::numeric_limits<uint32_t>::max() ? static_cast<uint32_t>(range) : 0;
        if (units == 0)
            b.maximum = b.minimum;

        SMixerLineInfo line;
        line.componentType = componentType;
        line.channels = static_cast<uint32_t>(b.channels.size());
        line.name = e.name;
        line.shortName = e.name.substr(0, 15);
        uint32_t flags = b.uniform ? MIXERCONTROL_CONTROLF_UNIFORM : 0;
        line.controls.push_back(SMixerControlInfo{b.id, MIXERCONTROL_CONTROLTYPE_VOLUME, flags, 0,
                                                  (e.name + " Volume").substr(0, 15), e.name + " Volume", 0,
                                                  units, units});
        snd_mixer_elem_set_callback(e.elem, &CAlsaMixerDevice::OnElementEvent);
        snd_mixer_elem_set_callback_private(e.elem, this);
        m_bindings.push_back(std::move(b));
        return line;
    }

    static std::vector<std::string> Names(const std::vector<SElement>& elements) {
        std::vector<std::string> names;
        for (const auto& e : elements)
            names.push_back(e.name);
        return names;
    }

    void Describe(const std::string& deviceName) {
        m_layout.name = deviceName;
        int card = -1;
        if (deviceName.rfind("hw:", 0) == 0 && (card = snd_card_get_index(deviceName.c_str() + 3)) >= 0) {
            char* cardName = nullptr;
            if (snd_card_get_name(card, &cardName) == 0 && cardName != nullptr) {
                m_layout.name = cardName;
                free(cardName);
            }
        }

        std::vector<SElement> playback;
        std::vector<SElement> capture;
        for (snd_mixer_elem_t* e = snd_mixer_first_elem(m_pMixer); e != nullptr; e = snd_mixer_elem_next(e)) {
            if (!snd_mixer_selem_is_active(e))
                continue;
            std::string name = snd_mixer_selem_get_name(e);
            if (const unsigned index = snd_mixer_selem_get_index(e); index > 0)
                name += " " + std::to_string(index);
            if (snd_mixer_selem_has_playback_volume(e))
                playback.push_back({e, name});
            if (snd_mixer_selem_has_capture_volume(e))
                capture.push_back({e, name});
        }

        if (const int main = ChooseAlsaMainElement(Names(playback), false); main >= 0) {
            SMixerDestinationInfo dest;
            dest.line =
                Line(playback[static_cast<size_t>(main)], false, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
            for (size_t i = 0; i < playback.size(); ++i) {
                if (static_cast<int>(i) != main)
                    dest.sources.push_back(Line(playback[i], false, AlsaElementLineType(playback[i].name)));
            }
            m_layout.destinations.push_back(std::move(dest));
        }
        if (const int main = ChooseAlsaMainElement(Names(capture), true); main >= 0) {
            SMixerDestinationInfo dest;
            dest.line = Line(capture[static_cast<size_t>(main)], true, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
            bool microphone = false;
            for (size_t i = 0; i < capture.size(); ++i) {
                if (static_cast<int>(i) == main)
                    continue;
                const uint32_t type = AlsaElementLineType(capture[i].name);
                microphone = microphone || type == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
                dest.sources.push_back(Line(capture[i], true, type));
            }
            // A sound server's capture volume is its microphone's.
            if (!microphone) {
                dest.sources.insert(dest.sources.begin(), Line(capture[static_cast<size_t>(main)], true,
                                                               MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE));
            }
            m_layout.destinations.push_back(std::move(dest));
        }
    }

    snd_mixer_t* m_pMixer = nullptr;
    SMixerLayout m_layout;
    std::vector<SBinding> m_bindings;
    uint32_t m_nextId = 1;
    bool m_bFailed = false;
    std::set<uint32_t> m_pending;
    std::function<void(uint32_t)> m_changed;
};

bool CanOpenControl(const char* name) {
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, name, SND_CTL_NONBLOCK) < 0)
        return false;
    snd_ctl_close(ctl);
    return true;
}

class CAlsaMixerBackend : public IMixerBackend {
public:
    std::vector<std::string> Devices() override {
        std::vector<std::string> names;
        if (CanOpenControl("default"))
            names.emplace_back("default");
        for (int card = -1; snd_card_next(&card) == 0 && card >= 0;)
            names.push_back("hw:" + std::to_string(card));
        return names;
    }

    MMRESULT Open(const std::string& name, std::unique_ptr<IMixerDevice>& device) override {
        return CAlsaMixerDevice::Open(name, device);
    }
};

// ALSA prints its own complaints (no sound server, no card) on stderr; the results say enough.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

std::shared_ptr<IMixerBackend> CreateAlsaMixerBackend() {
    snd_lib_error_set_handler(&QuietAlsaError);
    return std::make_shared<CAlsaMixerBackend>();
}

int ChooseAlsaMainElement(const std::vector<std::string>& names, bool capture) {
    static const char* const kPlayback[] = {"Master", "Speaker", "PCM", "Headphone", "Front"};
    static const char* const kCapture[] = {"Capture", "Mic", "Input"};
    if (names.empty())
        return -1;
    const auto& preferred = capture ? std::vector<const char*>(std::begin(kCapture), std::end(kCapture))
                                    : std::vector<const char*>(std::begin(kPlayback), std::end(kPlayback));
    for (const char* p : preferred) {
        auto it = std::find(names.begin(), names.end(), p);
        if (it != names.end())
            return static_cast<int>(it - names.begin());
    }
    return 0;
}

uint32_t AlsaElementLineType(const std::string& name) {
    const std::string n = Lower(name);
    if (Contains(n, "mic"))
        return MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
    if (Contains(n, "headphone"))
        return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    if (Contains(n, "line"))
        return MIXERLINE_COMPONENTTYPE_SRC_LINE;
    if (Contains(n, "cd"))
        return MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
    if (Contains(n, "pcm") || Contains(n, "wave"))
        return MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT;
    if (Contains(n, "beep") || Contains(n, "pc speaker"))
        return MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER;
    if (Contains(n, "aux"))
        return MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
    if (Contains(n, "phone"))
        return MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE;
    if (Contains(n, "synth") || Contains(n, "midi"))
        return MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER;
    if (Contains(n, "iec958") || Contains(n, "spdif") || Contains(n, "digital"))
        return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}
