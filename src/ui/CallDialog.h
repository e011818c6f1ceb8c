// CCallDialog (dialog 152): the call window. Created hidden with the main window and shown only during a
// call; it draws what CCallControl decides and hands the user's actions back to it. It is also the
// window the audio service tells of silence, and it runs the prompt and the notices of a call. During a
// call it holds the local preview, shown beside the chat while video is sent, and the remote video
// window, which the receiving side shows and hides.
#pragma once

#include <QPixmap>
#include <QSize>
#include <memory>
#include <optional>

#include "app/CallControl.h"
#include "audio/MixerFader.h"
#include "ui/RoundedDialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QSlider;
class QToolButton;
class QWidget;
class CNoticeDialog;
class CSliderFaderAdapter;
class CVideoView;
class CVideoWindow;

class CCallDialog : public CRoundedDialog, public CMessageTarget, public ICallView {
    Q_OBJECT
public:
    enum { IDD = 152 };
    enum : UINT {
        IDC_SILENCE = 1042,
        IDC_FRAME_RATE = 1043,
        IDC_TEXT_INPUT = 1099,
        IDC_TEXT_LIST = 1100,
    };
    static constexpr int kSilenceMax = 32000;
    static constexpr int kFrameRateMin = 1;
    static constexpr int kFrameRateMax = 30;
    // The local preview's size, 4:3 and a multiple of 8 wide, so the picture is drawn without bands.
    static constexpr int kPreviewWidth = 240;
    static constexpr int kPreviewHeight = 180;
    static constexpr int kPreviewGap = 12;
    // Chat line styles: the user's own lines and the peer's.
    enum { STYLE_OWN = 0, STYLE_RECEIVED = 1 };

    // Prompts and notices are centred on `parent` (the main window).
    explicit CCallDialog(QWidget* parent = nullptr);
    ~CCallDialog() override;

    void SetCallControl(CCallControl* pControl) { m_pControl = pControl; }

    // ICallView
    HWND GetNotifyWindow() const override { return GetSafeHwnd(); }
    void ShowCall(const std::string& title) override;
    void HideCall() override;
    void SetCallingMode(bool bOn) override;
    void SetCallingFrame(int brackets) override;
    void SetSilenceSlider(int value) override;
    void AppendChatLine(const std::string& text, bool bReceived) override;
    void ShowNotice(const std::string& text) override;
    EPrompt RunPrompt(const std::string& text) override;
    void ClosePrompt(EPrompt result) override;
    void SetVideoChecked(bool bChecked) override;
    void SetLocalVideoShown(bool bShown) override;
    void SetFrameRateSlider(int value) override;
    IVideoPicture* GetLocalPreview() override;
    IRemoteVideoWindow* GetRemoteVideoWindow() override { return &m_RemoteVideo; }

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

    // The calling text inside `brackets` pairs of brackets.
    static QString CallingText(const QString& base, int brackets);

    bool IsCallingMode() const { return m_bCallingMode; }
    bool IsSpeaking() const { return m_bSpeaking; }
    CNoticeDialog* OpenPrompt() const { return m_pPrompt; }
    QLabel* TitleLabel() const { return m_pTitle; }
    QLabel* CallingLabel() const { return m_pCalling; }
    QWidget* MediaPanel() const { return m_pMedia; }
    QLabel* SpeechIndicator() const { return m_pSpeech; }
    QSlider* SilenceSlider() const { return m_pSilence; }
    QSlider* SpeakerSlider() const { return m_pSpeaker; }
    QSlider* MicrophoneSlider() const { return m_pMicrophone; }
    CMixerFader& SpeakerFader() { return m_SpeakerFader; }
    CMixerFader& MicrophoneFader() { return m_MicrophoneFader; }
    QSlider* FrameRateSlider() const { return m_pFrameRate; }
    QCheckBox* VideoBox() const { return m_pVideo; }
    QLabel* FrameRateValue() const { return m_pFrameRateValue; }
    CVideoView* LocalPreview() const { return m_pPreview; }
    CVideoWindow* VideoWindow() const { return m_pVideoWindow; }
    QListWidget* ChatList() const { return m_pChat; }
    QLineEdit* ChatInput() const { return m_pInput; }
    QPushButton* SendButton() const { return m_pSend; }
    QPushButton* HangupButton() const { return m_pHangup; }
    QToolButton* CloseButton() const { return m_pClose; }

protected:
    // Escape and the close buttons hang up.
    void reject() override;
    void closeEvent(QCloseEvent* e) override;
    void hideEvent(QHideEvent* e) override;

private:
    // The video window as the receiving side drives it.
    class CRemoteVideo : public IRemoteVideoWindow {
    public:
        explicit CRemoteVideo(CCallDialog& owner) : m_owner(owner) {}
        void ShowVideo(int width, int height) override;
        void HideVideo() override;
        IVideoPicture& Picture() override;

    private:
        CCallDialog& m_owner;
    };

    void BuildControls();
    // The speaker and microphone sliders as faders of the first mixer; a slider stays disabled,
    // silently, when its control cannot be bound.
    void BindFaders();
    void OnSend();
    void OnSilenceMoved();
    void OnVideoToggled(bool bChecked);
    void OnFrameRateMoved();
    void ShowFrameRate(int value);
    void ShowSpeech(bool bSpeaking);
    static QPixmap SpeechIcon(bool bSpeaking);

    CCallControl* m_pControl = nullptr;
    bool m_bCallingMode = false;
    bool m_bSpeaking = false;
    QString m_strCallingBase;
    CNoticeDialog* m_pPrompt = nullptr;
    std::optional<EPrompt> m_promptResult;

    QLabel* m_pTitle = nullptr;
    QToolButton* m_pClose = nullptr;
    QLabel* m_pCalling = nullptr;
    QWidget* m_pMedia = nullptr;
    QLabel* m_pSpeech = nullptr;
    QSlider* m_pSilence = nullptr;
    QSlider* m_pSpeaker = nullptr;
    QSlider* m_pMicrophone = nullptr;
    QSlider* m_pFrameRate = nullptr;
    QLabel* m_pFrameRateValue = nullptr;
    QCheckBox* m_pVideo = nullptr;
    CVideoView* m_pPreview = nullptr;
    // The window's size before the preview widened it; empty while the preview is hidden.
    QSize m_sizeWithoutPreview;
    CVideoWindow* m_pVideoWindow = nullptr;
    CRemoteVideo m_RemoteVideo{*this};
    QListWidget* m_pChat = nullptr;
    QLineEdit* m_pInput = nullptr;
    QPushButton* m_pSend = nullptr;
    QPushButton* m_pHangup = nullptr;

    // The faders outlive the adapters that connect them to their sliders.
    CMixerFader m_SpeakerFader;
    CMixerFader m_MicrophoneFader;
    std::unique_ptr<CSliderFaderAdapter> m_pSpeakerAdapter;
    std::unique_ptr<CSliderFaderAdapter> m_pMicrophoneAdapter;
};
