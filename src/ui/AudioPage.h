// CAudioPage (dialog 147): the properties sheet's page of the sound devices, the silence level and the
// microphone and speaker volumes. The volume sliders are faders of the first mixer; one that cannot bind
// stays disabled and shows the stored position.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "audio/MixerFader.h"

class CClientApp;
class CSliderFaderAdapter;
class QCheckBox;
class QComboBox;
class QSlider;
struct SPropertiesValues;

class CAudioPage : public QWidget {
    Q_OBJECT
public:
    enum { IDD = 147 };
    enum { IDC_INPUT_VOLUME = 1015, IDC_INPUT = 1016, IDC_OUTPUT = 1017, IDC_AUDIO_TEST = 1018 };
    enum { IDC_OUTPUT_VOLUME = 1019, IDC_SILENCE = 1020 };
    static constexpr int kSilenceMax = 32000;
    static constexpr int kVolumeMax = 100;

    CAudioPage(CClientApp& app, QWidget* parent = nullptr);
    ~CAudioPage() override;

    // The selected devices (a stored one that is not listed today, while no other is picked), the silence
    // level and the two volume positions.
    void Store(SPropertiesValues& values) const;

    QComboBox* InputList() const { return m_pInput; }
    QComboBox* OutputList() const { return m_pOutput; }
    QSlider* SilenceSlider() const { return m_pSilence; }
    QSlider* InputVolume() const { return m_pInputVolume; }
    QSlider* OutputVolume() const { return m_pOutputVolume; }
    CMixerFader& InputFader() { return m_InputFader; }
    CMixerFader& OutputFader() { return m_OutputFader; }

private:
    // An empty entry, then the names; the stored one selected, or nothing with the stored name shown.
    static void FillList(QComboBox* list, std::vector<std::string>& rows,
                         const std::vector<std::string>& names, const std::string& stored);
    void BindFader(CMixerFader& fader, QSlider* slider, std::unique_ptr<CSliderFaderAdapter>& adapter,
                   uint32_t dstType, uint32_t srcType, int stored);

    CClientApp& m_App;
    QComboBox* m_pInput = nullptr;
    QComboBox* m_pOutput = nullptr;
    QSlider* m_pSilence = nullptr;
    QSlider* m_pInputVolume = nullptr;
    QSlider* m_pOutputVolume = nullptr;
    QCheckBox* m_pAudioTest = nullptr;
    std::vector<std::string> m_InputRows;
    std::vector<std::string> m_OutputRows;
    // The faders outlive the adapters that connect them to their sliders.
    CMixerFader m_InputFader;
    CMixerFader m_OutputFader;
    std::unique_ptr<CSliderFaderAdapter> m_pInputAdapter;
    std::unique_ptr<CSliderFaderAdapter> m_pOutputAdapter;
};
