// CVideoCaptureWindow: one open camera. It connects a driver, sets one of the fixed capture formats,
// receives grabbed frames on the thread that started it, drops frames that show no change, and hands the
// rest to a consumer through a pool of 24 frame buffers and a posted WM_DEVICE_VIDEO_FRAME.
#pragma once

#include <atomic>
#include <map>
#include <memory>
#include <string>

#include "platform/Deque.h"
#include "platform/Lock.h"
#include "platform/Messages.h"
#include "platform/NamedDevice.h"
#include "video/CaptureBackend.h"
#include "video/CaptureTables.h"
#include "video/ImageFormat.h"

// Asks the capture window for one frame; sent by the pacing thread, handled on the window's thread.
constexpr UINT WM_CAP_GRAB_FRAME_NOSTOP = WM_USER + 61;
// Posted to the notify window: frames wait in the pool / the driver failed (nothing acts on the latter).
extern const UINT WM_DEVICE_VIDEO_FRAME;
extern const UINT WM_DEVICE_VIDEO_ERROR;

// The block grid and threshold of capture's change detection: 16 x 8 blocks, a luma mean moved by more
// than 5 in one block passes a frame.
constexpr int kChangeColumns = 16;
constexpr int kChangeRows = 8;
constexpr int kChangeThreshold = 5;
constexpr int kChangeBlocksNeeded = 1;

class CVideoCaptureWindow : public CNamedDevice, private ICaptureFrameSink {
public:
    static constexpr int kFrameCount = 24;

    CVideoCaptureWindow();
    ~CVideoCaptureWindow() override;
    CVideoCaptureWindow(const CVideoCaptureWindow&) = delete;
    CVideoCaptureWindow& operator=(const CVideoCaptureWindow&) = delete;

    // `pParent` is the view the owner shows the picture in; it is kept for the owner, the capture window
    // itself is never shown. An unknown or empty name connects the first driver.
    virtual bool StartPreset(const std::string& name, void* pParent, int preset);
    virtual bool Start(const std::string& name, void* pParent, int fourccIndex, int sizeIndex, int bitsIndex);
    // Starts with a triple stored under `key`; nothing stores any, so this fails.
    virtual bool StartKeyed(const std::string& name, void* pParent, int key);

    bool Close() override;
    bool IsOpen() const override { return m_hWnd.load() != nullptr; }

    // Moves the oldest waiting frame into `buffer`; false (buffer untouched) when none waits. Any thread.
    bool TakeFrame(CDataBuffer& buffer);
    // Moves the newest waiting frame into `buffer` and frees the older ones unread: for a consumer that
    // must not fall behind the camera. False (buffer untouched) when none waits. Any thread.
    bool TakeNewestFrame(CDataBuffer& buffer);

    // The capture window, null when closed. Any thread.
    HWND GetSafeHwnd() const { return m_hWnd.load(); }
    void* GetParent() const { return m_pParent; }
    // Frames waiting for the consumer (for tests and diagnostics).
    int FullFrameCount();

    HWND m_hWndNotify = nullptr;
    CImageFormat m_Format;

private:
    class CCaptureTarget;

    bool SetCaptureFormat(int fourccIndex, int sizeIndex, int bitsIndex);
    // The frame callback, on the window's thread.
    void OnCaptureFrame(const uint8_t* data, size_t size) override;
    void OnGrab();
    size_t FramePictureSize() const;
    void DestroyWindow();

    std::unique_ptr<CCaptureTarget> m_pWindow;
    std::atomic<HWND> m_hWnd{nullptr};
    std::unique_ptr<ICaptureDriver> m_pDriver;
    void* m_pParent = nullptr;
    std::map<int, SCapturePreset> m_KeyedPresets;
    CLock m_FramesLock;  // guards both queues and the frames' move between them
    TDeque<CDataBuffer*> m_FreeFrames;
    TDeque<CDataBuffer*> m_FullFrames;
};

// The last frame passed on by any capture window: what the next frame is compared with.
void ResetCaptureReferenceFrame();
