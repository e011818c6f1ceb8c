// Wave devices over virtual and scripted back ends: names and fallbacks, the capture buffer cycle, the
// close loop's codes, playback blocks and their release, and the silence measure.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <deque>

#include "audio/VirtualWave.h"
#include "audio/WavFile.h"
#include "audio/WaveDevice.h"
#include "audio/WaveMessageWindow.h"
#include "support/Process.h"

namespace {

std::vector<uint8_t> Samples(std::initializer_list<int16_t> values) {
    std::vector<uint8_t> bytes;
    for (int16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(v));
        bytes.push_back(static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8));
    }
    return bytes;
}

TEST(SilenceMeasure, PeakToPeakAgainstThreshold) {
    CWaveInDevice d;
    std::vector<uint8_t> zeros(1600, 0);
    uint16_t pp = 1;
    d.SetSilenceThreshold(0);
    EXPECT_TRUE(d.IsSilent(zeros.data(), 1600, &pp));
    EXPECT_EQ(pp, 0);

    auto extremes = Samples({-32768, 0, 32767});
    d.SetSilenceThreshold(32000);
    EXPECT_FALSE(d.IsSilent(extremes.data(), static_cast<uint32_t>(extremes.size()), &pp));
    EXPECT_EQ(pp, 65535);
    d.SetSilenceThreshold(65535);
    EXPECT_TRUE(d.IsSilent(extremes.data(), static_cast<uint32_t>(extremes.size()), nullptr));

    // Threshold 0: only a flat buffer is silent.
    auto flat = Samples({123, 123, 123});
    auto step = Samples({123, 124, 123});
    d.SetSilenceThreshold(0);
    EXPECT_TRUE(d.IsSilent(flat.data(), 6, nullptr));
    EXPECT_FALSE(d.IsSilent(step.data(), 6, &pp));
    EXPECT_EQ(pp, 1);

    // The starting extremes are +-32700: a block within them counts from there.
    auto quiet = Samples({-5, 7});
    d.SetSilenceThreshold(12);
    EXPECT_TRUE(d.IsSilent(quiet.data(), 4, &pp));
    EXPECT_EQ(pp, 12);
}

TEST(SilenceMeasure, EmptyBlockIsNeverSilent) {
    CWaveInDevice d;
    uint16_t pp = 0;
    d.SetSilenceThreshold(65535);
    EXPECT_FALSE(d.IsSilent(nullptr, 0, &pp));
    EXPECT_EQ(pp, static_cast<uint16_t>(-65400));
    // A lone odd byte is no sample either.
    uint8_t odd = 0;
    EXPECT_FALSE(d.IsSilent(&odd, 1, nullptr));
}

// Records what a capture device is given.
class CCountingCapture : public CWaveInDevice {
public:
    bool OnData(void* pData, uint32_t nBytes) override {
        ++m_nBuffers;
        m_nLastBytes = nBytes;
        const auto* p = static_cast<const int16_t*>(pData);
        m_Samples.insert(m_Samples.end(), p, p + nBytes / 2);
        if (m_bCloseInside)
            Close();
        return true;
    }
    // True when every buffer is prepared: queued with the driver or back with us, never in neither.
    bool AllBuffersPrepared() const {
        for (const WAVEHDR& b : m_Buffers)
            if (!(b.dwFlags & WHDR_PREPARED))
                return false;
        return true;
    }
    int m_nBuffers = 0;
    uint32_t m_nLastBytes = 0;
    bool m_bCloseInside = false;
    std::vector<int16_t> m_Samples;
};

class WaveDevices : public ::testing::Test {
protected:
    void SetUp() override {
        m_Virtual = std::make_shared<CVirtualWaveBackend>();
        SetWaveBackends({m_Virtual});
        ASSERT_TRUE(m_Window.Create());
    }
    void TearDown() override { SetWaveBackends({}); }

    bool Pump(const std::function<bool()>& done, int timeoutMs = 10000) {
        return PumpMessagesUntil(done, timeoutMs);
    }

    vp::test::CTempDir m_Dir{"vp-wave"};
    std::shared_ptr<CVirtualWaveBackend> m_Virtual;
    CWaveMessageWindow m_Window;
};

TEST_F(WaveDevices, NamesListInBackendOrderAndUnknownNamesFallBackToTheFirst) {
    m_Virtual->AddToneCapture("Tone", 1000, 0.5, EWavePacing::Fast);
    m_Virtual->AddSilenceCapture("Silence", EWavePacing::Fast);
    m_Virtual->AddWavFilePlayback("Nowhere", "", EWavePacing::Fast);
    const auto& names = CWaveInDevice::GetDeviceNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "Tone");
    EXPECT_EQ(CWaveInDevice::FindDevice("Silence"), 1u);
    EXPECT_EQ(CWaveInDevice::FindDevice("silence"), 0u);  // exact comparison
    EXPECT_EQ(CWaveOutDevice::GetDeviceNames().size(), 1u);

    // An unknown name records from position 0: the tone.
    CCountingCapture in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("No such microphone"));
    EXPECT_FALSE(in.Open("Tone"));  // already open
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 3; }));
    in.Close();
    int peak = 0;
    for (int16_t s : in.m_Samples)
        peak = std::max(peak, std::abs(static_cast<int>(s)));
    EXPECT_GT(peak, 10000);
}

TEST_F(WaveDevices, OpenNeedsAWindowWithAHandleAndADevice) {
    CWaveInDevice in;
    CWaveOutDevice out;
    EXPECT_FALSE(in.Open("x"));  // no window
    CWaveMessageWindow uncreated;
    in.SetNotifyWindow(&uncreated);
    EXPECT_FALSE(in.Open("x"));  // no handle
    in.SetNotifyWindow(&m_Window);
    EXPECT_FALSE(in.Open(nullptr));
    EXPECT_FALSE(in.Open("x"));  // no device at all: position 0 is refused
    EXPECT_FALSE(in.Start());
    out.SetNotifyWindow(&m_Window);
    EXPECT_FALSE(out.Open("x"));
    EXPECT_EQ(out.Write("ab", 2), 0u);
    EXPECT_TRUE(out.Close());
}

TEST_F(WaveDevices, CaptureCyclesFourBuffersOfAHundredMilliseconds) {
    const std::string path = m_Dir.File("ramp.wav");
    std::vector<int16_t> ramp(8000);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<int16_t>(i);
    ASSERT_TRUE(WriteWavFile(path, 8000, 1, ramp));
    m_Virtual->AddWavFileCapture("File", path, EWavePacing::Fast);

    CCountingCapture in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("File"));
    EXPECT_EQ(m_Window.GetCapture(), &in);
    ASSERT_TRUE(in.Start());
    // Ten buffers need every one of the four to come back more than once.
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 10; }));
    EXPECT_EQ(in.m_nLastBytes, 1600u);
    EXPECT_TRUE(in.Close());
    EXPECT_EQ(m_Window.GetCapture(), nullptr);
    // Sound arrives complete and in order.
    ASSERT_GE(in.m_Samples.size(), 8000u);
    for (size_t i = 0; i < 8000; ++i)
        ASSERT_EQ(in.m_Samples[i], static_cast<int16_t>(i)) << i;
    for (size_t i = 8000; i < in.m_Samples.size(); ++i)
        ASSERT_EQ(in.m_Samples[i], 0);
}

TEST_F(WaveDevices, BuffersDeliveredAfterCloseAreOnlyUnprepared) {
    m_Virtual->AddToneCapture("Tone", 440, 0.5, EWavePacing::Fast);
    CCountingCapture in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Tone"));
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 1; }));
    // Completions already queued for the window stay queued while the device closes.
    const int before = in.m_nBuffers;
    EXPECT_TRUE(in.Close());
    DispatchPendingMessages();
    EXPECT_EQ(in.m_nBuffers, before);
    EXPECT_FALSE(in.IsOpen());

    // Reopened, the device captures again from the start.
    ASSERT_TRUE(in.Open("Tone"));
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= before + 4; }));
}

// Completions of a closed handle that reach the window after the device was opened again belong to
// buffers the new handle has queued: they are left alone.
TEST_F(WaveDevices, LateCompletionsOfAClosedHandleLeaveTheReopenedBuffersAlone) {
    m_Virtual->AddToneCapture("Tone", 440, 0.5, EWavePacing::RealTime);
    CCountingCapture in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Tone"));
    ASSERT_TRUE(in.Start());
    EXPECT_TRUE(in.Close());  // its four completions wait in the window's queue
    ASSERT_TRUE(in.Open("Tone"));
    ASSERT_TRUE(in.Start());
    DispatchPendingMessages();
    ASSERT_TRUE(in.Stop());  // the driver's thread rests: its buffers can be looked at
    EXPECT_TRUE(in.AllBuffersPrepared());
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 6; }));
    EXPECT_TRUE(in.Close());
}

TEST_F(WaveDevices, ClosingInsideOnDataStopsTheCycle) {
    m_Virtual->AddToneCapture("Tone", 440, 0.5, EWavePacing::Fast);
    CCountingCapture in;
    in.m_bCloseInside = true;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Tone"));
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 1; }));
    Pump([] { return false; }, 50);
    EXPECT_EQ(in.m_nBuffers, 1);
}

TEST_F(WaveDevices, RealTimeCaptureKeepsPace) {
    m_Virtual->AddSilenceCapture("Quiet", EWavePacing::RealTime);
    CCountingCapture in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Quiet"));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(in.Start());
    ASSERT_TRUE(Pump([&] { return in.m_nBuffers >= 3; }));
    // Three 100 ms buffers cannot be ready before 300 ms of sound passed.
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(290));
}

// A back end whose capture stream answers the close call from a script.
class CScriptedSource : public IWaveSource {
public:
    CScriptedSource(std::deque<MMRESULT> answers, std::atomic<int>& stops, std::atomic<int>& closes)
        : m_Answers(std::move(answers)), m_nStops(stops), m_nCloses(closes) {}
    bool Start() override { return true; }
    void Stop() override { ++m_nStops; }
    int Read(void*, int) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    }
    MMRESULT Close() override {
        ++m_nCloses;
        if (m_Answers.empty())
            return m_nForever;
        const MMRESULT r = m_Answers.front();
        m_Answers.pop_front();
        return r;
    }
    std::deque<MMRESULT> m_Answers;
    MMRESULT m_nForever = MMSYSERR_NOERROR;
    std::atomic<int>& m_nStops;
    std::atomic<int>& m_nCloses;
};

class CScriptedBackend : public IWaveBackend {
public:
    std::vector<std::string> CaptureDevices() override { return {"Scripted"}; }
    std::vector<std::string> PlaybackDevices() override { return {}; }
    MMRESULT OpenCapture(const std::string&, const WAVEFORMATEX&, std::unique_ptr<IWaveSource>& s) override {
        auto source = std::make_unique<CScriptedSource>(m_Answers, m_nStops, m_nCloses);
        source->m_nForever = m_nForever;
        s = std::move(source);
        return MMSYSERR_NOERROR;
    }
    MMRESULT OpenPlayback(const std::string&, const WAVEFORMATEX&, std::unique_ptr<IWaveSink>&) override {
        return MMSYSERR_BADDEVICEID;
    }
    std::deque<MMRESULT> m_Answers;
    MMRESULT m_nForever = MMSYSERR_NOERROR;
    std::atomic<int> m_nStops{0};
    std::atomic<int> m_nCloses{0};
};

TEST_F(WaveDevices, CloseRetriesStillPlayingAfterResetAndStop) {
    auto backend = std::make_shared<CScriptedBackend>();
    backend->m_Answers = {WAVERR_STILLPLAYING, WAVERR_STILLPLAYING, MMSYSERR_NOERROR};
    SetWaveBackends({backend});
    CWaveInDevice in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Scripted"));
    ASSERT_TRUE(in.Start());
    const int stopsBefore = backend->m_nStops;
    EXPECT_TRUE(in.Close());
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(backend->m_nCloses, 3);
    // Each attempt resets; each refusal with 33 resets again and stops.
    EXPECT_GE(backend->m_nStops - stopsBefore, 3 + 2);
}

TEST_F(WaveDevices, CloseForgetsTheHandleOnInvalidHandleOrNoDriver) {
    auto backend = std::make_shared<CScriptedBackend>();
    backend->m_Answers = {MMSYSERR_ERROR, MMSYSERR_NODRIVER};
    SetWaveBackends({backend});
    CWaveInDevice in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Scripted"));
    EXPECT_TRUE(in.Close());
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(backend->m_nCloses, 2);
}

TEST_F(WaveDevices, CloseGivesUpOnADriverThatNeverCloses) {
    auto backend = std::make_shared<CScriptedBackend>();
    backend->m_nForever = MMSYSERR_ERROR;
    SetWaveBackends({backend});
    CWaveInDevice in;
    in.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(in.Open("Scripted"));
    EXPECT_TRUE(in.Close());
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(backend->m_nCloses, CWaveInDevice::kMaxCloseTries);
}

TEST_F(WaveDevices, PlayedBlocksAreFreedAndWrittenInOrder) {
    const std::string path = m_Dir.File("out.wav");
    m_Virtual->AddWavFilePlayback("Speaker", path, EWavePacing::Fast);
    CWaveOutDevice out;
    out.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(out.Open("Speaker"));
    EXPECT_EQ(m_Window.PlaybackCount(), 1u);
    EXPECT_FALSE(out.Open("Speaker"));
    // 1000 blocks of varied lengths, odd ones included.
    std::vector<int16_t> expected;
    int16_t next = 0;
    for (int i = 0; i < 1000; ++i) {
        std::vector<int16_t> block(static_cast<size_t>(1 + i % 37));
        for (auto& s : block)
            s = next++;
        ASSERT_EQ(out.Write(block.data(), static_cast<uint32_t>(block.size() * 2)), block.size() * 2);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    ASSERT_TRUE(Pump([&] { return m_Window.OutstandingHeaders() == 0; }));
    EXPECT_TRUE(out.Close());
    EXPECT_EQ(m_Window.PlaybackCount(), 0u);
    SWavFormat f;
    std::vector<int16_t> played;
    ASSERT_TRUE(ReadWavFile(path, f, played));
    EXPECT_EQ(played, expected);
}

TEST_F(WaveDevices, CloseReturnsQueuedBlocksAndTheWindowFreesThem) {
    m_Virtual->AddWavFilePlayback("Slow", "", EWavePacing::RealTime);
    CWaveOutDevice out;
    out.SetNotifyWindow(&m_Window);
    ASSERT_TRUE(out.Open("Slow"));
    std::vector<uint8_t> second(16000, 0);
    for (int i = 0; i < 5; ++i)
        out.Write(second.data(), static_cast<uint32_t>(second.size()));
    EXPECT_EQ(m_Window.OutstandingHeaders(), 5u);
    EXPECT_TRUE(out.Close());  // five seconds of sound do not hold it up
    ASSERT_TRUE(Pump([&] { return m_Window.OutstandingHeaders() == 0; }));
    EXPECT_EQ(out.Write(second.data(), 2), 0u);
}

TEST_F(WaveDevices, AWindowDestroyedFirstClosesItsDevicesAndFreesTheirBlocks) {
    m_Virtual->AddWavFilePlayback("Slow", "", EWavePacing::RealTime);
    m_Virtual->AddToneCapture("Tone", 440, 0.5, EWavePacing::Fast);
    CWaveOutDevice out;
    CCountingCapture in;
    {
        CWaveMessageWindow window;
        ASSERT_TRUE(window.Create());
        out.SetNotifyWindow(&window);
        in.SetNotifyWindow(&window);
        ASSERT_TRUE(out.Open("Slow"));
        ASSERT_TRUE(in.Open("Tone"));
        ASSERT_TRUE(in.Start());
        std::vector<uint8_t> second(16000, 0);
        out.Write(second.data(), static_cast<uint32_t>(second.size()));
    }
    EXPECT_FALSE(out.IsOpen());
    EXPECT_FALSE(in.IsOpen());
    EXPECT_EQ(out.GetNotifyWindow(), nullptr);
    DispatchPendingMessages();  // late completions go nowhere
}

TEST_F(WaveDevices, ReleaseHeaderFreesOnlyWhileOpen) {
    m_Virtual->AddWavFilePlayback("Speaker", "", EWavePacing::Fast);
    CWaveOutDevice out;
    out.SetNotifyWindow(&m_Window);
    auto* h = new WAVEHDR{};
    h->lpData = new char[4];
    h->dwBufferLength = 4;
    EXPECT_FALSE(out.ReleaseHeader(h));  // closed: still ours
    ASSERT_TRUE(out.Open("Speaker"));
    EXPECT_TRUE(out.ReleaseHeader(h));
}

}  // namespace
