#include "ui/AudioPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ClientApp.h"
#include "app/DeviceChoice.h"
#include "app/PropertiesValues.h"
#include "audio/MixerApi.h"
#include "audio/WaveDevice.h"
#include "platform/StringTable.h"
#include "ui/SliderFaderAdapter.h"
#include "ui/UiText.h"

namespace {

QSlider* HorizontalSlider(QWidget* parent, const char* name, int maximum) {
    auto* s = new QSlider(Qt::Horizontal, parent);
    s->setObjectName(name);
    s->setRange(0, maximum);
    return s;
}

}  // namespace

CAudioPage::CAudioPage(CClientApp& app, QWidget* parent) : QWidget(parent), m_App(app) {
    setObjectName("audioPage");
    const CSettings& settings = m_App.Settings();

    m_pInput = new QComboBox(this);
    m_pInput->setObjectName("inputDevice");
    FillList(m_pInput, m_InputRows, CWaveInDevice::GetDeviceNames(), settings.GetAudioIn());
    m_pOutput = new QComboBox(this);
    m_pOutput->setObjectName("outputDevice");
    FillList(m_pOutput, m_OutputRows, CWaveOutDevice::GetDeviceNames(), settings.GetAudioOut());

    m_pSilence = HorizontalSlider(this, "silence", kSilenceMax);
    m_pSilence->setPageStep(1000);
    m_pSilence->setSingleStep(100);
    m_pSilence->setToolTip(LoadText(IDS_MEDIA_SILENCE_TIP));
    m_pSilence->setValue(std::clamp(settings.GetSilence(), 0, kSilenceMax));

    m_pInputVolume = HorizontalSlider(this, "inputVolume", kVolumeMax);
    m_pOutputVolume = HorizontalSlider(this, "outputVolume", kVolumeMax);
    BindFader(m_InputFader, m_pInputVolume, m_pInputAdapter, MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
              MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, settings.GetAudioInVolume());
    BindFader(m_OutputFader, m_pOutputVolume, m_pOutputAdapter, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
              MIXER_NO_SOURCE_LINE, settings.GetAudioOutVolume());

    m_pAudioTest = new QCheckBox(LoadText(IDS_MEDIA_AUDIO_TEST), this);
    m_pAudioTest->setObjectName("audioTest");
    m_pAudioTest->hide();

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(LoadText(IDS_MEDIA_INPUT_DEVICE), m_pInput);
    form->addRow(LoadText(IDS_MEDIA_OUTPUT_DEVICE), m_pOutput);
    form->addRow(LoadText(IDS_MEDIA_SILENCE), m_pSilence);
    form->addRow(LoadText(IDS_MEDIA_INPUT_VOLUME), m_pInputVolume);
    form->addRow(LoadText(IDS_MEDIA_OUTPUT_VOLUME), m_pOutputVolume);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_pAudioTest);
    layout->addStretch(1);
}

// The adapters go before the faders they are attached to.
CAudioPage::~CAudioPage() = default;

void CAudioPage::FillList(QComboBox* list, std::vector<std::string>& rows,
                          const std::vector<std::string>& names, const std::string& stored) {
    rows.assign(1, std::string());
    rows.insert(rows.end(), names.begin(), names.end());
    for (const std::string& name : rows)
        list->addItem(QString::fromStdString(name));
    const int row = RowOfStoredDevice(rows, stored);
    list->setCurrentIndex(row);
    // Nothing selected: the device the settings keep is named in the empty box.
    if (row < 0)
        list->setPlaceholderText(QString::fromStdString(FormatString(IDS_MEDIA_NOT_LISTED, {stored})));
}

void CAudioPage::BindFader(CMixerFader& fader, QSlider* slider, std::unique_ptr<CSliderFaderAdapter>& adapter,
                           uint32_t dstType, uint32_t srcType, int stored) {
    adapter = std::make_unique<CSliderFaderAdapter>(slider, &fader);
    // A bound fader shows the mixer's volume as it is: a stored position there would not be the volume
    // the user hears, and the mixer's range need not be 0 to 100.
    if (fader.Init(dstType, srcType, MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain) == 0)
        slider->setValue(std::clamp(stored, 0, kVolumeMax));
}

void CAudioPage::Store(SPropertiesValues& values) const {
    const CSettings& settings = m_App.Settings();
    values.m_strAudioIn = DeviceToStore(m_InputRows, m_pInput->currentIndex(), settings.GetAudioIn());
    values.m_strAudioOut = DeviceToStore(m_OutputRows, m_pOutput->currentIndex(), settings.GetAudioOut());
    values.m_nSilence = m_pSilence->value();
    values.m_nAudioInVolume = m_pInputVolume->value();
    values.m_nAudioOutVolume = m_pOutputVolume->value();
}
