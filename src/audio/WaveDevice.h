// The wave capture and playback devices: fixed to 8000 Hz mono 16-bit PCM, chosen by name, with their
// completions delivered as messages to one CWaveMessageWindow on the user-interface thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "audio/WaveApi.h"
#include "platform/Deque.h"
#include "platform/Lock.h"
#include "platform/NamedDevice.h"

class CWaveMessageWindow;

class CWaveDevice : public CNamedDevice {
public:
    CWaveDevice();
    ~CWaveDevice() override;
    CWaveDevice(const CWaveDevice&) = delete;
    CWaveDevice& operator=(const CWaveDevice&) = delete;

    bool Close() override = 0;
    virtual bool Reset() = 0;
    virtual void SetNotifyWindow(CWaveMessageWindow* pWnd);
    CWaveMessageWindow* GetNotifyWindow() const { return m_pNotifyWnd; }
    const WAVEFORMATEX& GetFormat() const { return m_Format; }

protected:
    void SetFormat(uint32_t rate, uint16_t channels, uint16_t bits);
    // Frees the headers left in m_Headers.
    void DrainHeaders();

    WAVEFORMATEX m_Format{};
    TDeque<WAVEHDR*> m_Headers;
    CWaveMessageWindow* m_pNotifyWnd = nullptr;

private:
    friend class CWaveMessageWindow;
};

class CWaveInDevice : public CWaveDevice {
public:
    static constexpr int kBufferCount = 4;
    static constexpr uint32_t kDefaultSilenceThreshold = 2500;
    // waveInClose is retried this often before the handle is given up.
    static constexpr int kMaxCloseTries = 200;

    CWaveInDevice();
    ~CWaveInDevice() override;

    bool IsOpen() const override { return m_hWaveIn != nullptr; }
    bool Close() override;
    bool Reset() override;
    // One filled capture buffer, on the window's thread; this class ignores it.
    virtual bool OnData(void* pData, uint32_t nBytes);

    bool Open(const char* name);
    bool Start();
    bool Stop();
    void SetSilenceThreshold(uint32_t value) { m_nSilenceThreshold = value; }
    uint32_t GetSilenceThreshold() const { return m_nSilenceThreshold; }
    // Silent when the block's peak-to-peak amplitude is at most the threshold; an empty block never is.
    bool IsSilent(const void* pData, uint32_t nBytes, uint16_t* pPeakToPeak) const;

    HWAVEIN GetHandle() const { return m_hWaveIn; }
    bool OwnsBuffer(const WAVEHDR* pHdr) const;

    // The capture devices' names, read afresh; positions are device ids.
    static const std::vector<std::string>& GetDeviceNames();
    // Position of the first name equal to `name`; 0 when absent.
    static UINT FindDevice(const std::string& name);

protected:
    HWAVEIN m_hWaveIn = nullptr;
    WAVEHDR m_Buffers[kBufferCount]{};
    uint32_t m_nSilenceThreshold = kDefaultSilenceThreshold;
    CLock m_Lock;

private:
    friend class CWaveMessageWindow;
    // The capture buffer cycle's requeue (on the window's thread).
    void Requeue(WAVEHDR* pHdr);
};

// The second base is the lock that serialises writes and header releases.
class CWaveOutDevice : public CWaveDevice, public CLock {
public:
    CWaveOutDevice();
    ~CWaveOutDevice() override;

    bool IsOpen() const override { return m_hWaveOut != nullptr; }
    bool Close() override;
    bool Reset() override;

    bool Open(const char* name);
    // Queues a copy of the block for playing; the number of bytes accepted (0 when closed or refused).
    uint32_t Write(const void* pData, uint32_t nBytes);
    // Frees a header that came back from the driver; false (nothing freed) when closed.
    bool ReleaseHeader(WAVEHDR* pHdr);

    HWAVEOUT GetHandle() const { return m_hWaveOut; }

    static const std::vector<std::string>& GetDeviceNames();
    static UINT FindDevice(const std::string& name);

protected:
    HWAVEOUT m_hWaveOut = nullptr;
    CLock m_OpenLock;
};

// Frees a playback header and its data block.
void FreeWaveHeader(WAVEHDR* pHdr);
