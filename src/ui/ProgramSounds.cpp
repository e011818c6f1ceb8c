#include "ui/ProgramSounds.h"

#include <QFile>
#include <cstdlib>

#include "app/SessionWindow.h"
#include "audio/WavFile.h"

CProgramSounds::CProgramSounds() {
    const char* device = std::getenv("VELAPHON_SOUND_DEVICE");
    m_pPlayer = std::make_unique<CSoundPlayer>(device != nullptr && *device != '\0' ? device : "default");
}

const char* CProgramSounds::ResourcePath(UINT resource) {
    switch (resource) {
        case IDR_WAVE_RING:
            return ":/sounds/ring.wav";
        case IDR_WAVE_DISCONNECTED:
            return ":/sounds/disconnected.wav";
        case IDR_WAVE_CONNECTED:
            return ":/sounds/connected.wav";
        default:
            return nullptr;
    }
}

const CProgramSounds::SWave* CProgramSounds::Load(UINT resource) {
    auto it = m_Waves.find(resource);
    if (it != m_Waves.end())
        return &it->second;
    const char* path = ResourcePath(resource);
    if (path == nullptr)
        return nullptr;
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        return nullptr;
    const QByteArray bytes = file.readAll();
    SWavFormat format;
    SWave wave;
    if (!ParseWav(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<size_t>(bytes.size()),
                  format, wave.samples))
        return nullptr;
    wave.rate = format.nSamplesPerSec;
    wave.channels = format.nChannels;
    return &m_Waves.emplace(resource, std::move(wave)).first->second;
}

bool CProgramSounds::Play(UINT resource) {
    const SWave* wave = Load(resource);
    if (wave == nullptr)
        return false;
    m_nLastPlayed = resource;
    ++m_nPlayed;
    m_pPlayer->Play(wave->rate, wave->channels, wave->samples);
    return true;
}

void CProgramSounds::Stop() {
    m_pPlayer->StopSound();
}
