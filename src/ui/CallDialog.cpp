#include "ui/CallDialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "audio/MixerApi.h"
#include "platform/StringTable.h"
#include "ui/NoticeDialog.h"
#include "ui/SliderFaderAdapter.h"
#include "ui/UiText.h"
#include "ui/VideoView.h"
#include "ui/VideoWindow.h"

namespace {

// The audio service's notice of silence (wParam 1) and of sound (0).
const UINT WM_AUDIO_SILENCE = RegisterWindowMessage("WM_AUDIO_SILENCE");

const QColor kOwnLine(0x1a, 0x4f, 0x8b);
const QColor kReceivedLine(0x20, 0x20, 0x20);
const QColor kReceivedBackground(0xfa, 0xf4, 0xdc);

QSlider* VolumeSlider(QWidget* parent, const char* name, UINT tip) {
    auto* s = new QSlider(Qt::Vertical, parent);
    s->setObjectName(name);
    s->setToolTip(LoadText(tip));
    s->setRange(0, 100);
    s->setFixedHeight(96);
    return s;
}

QWidget* Captioned(QWidget* control, UINT caption, QWidget* parent) {
    auto* box = new QWidget(parent);
    auto* v = new QVBoxLayout(box);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);
    v->addWidget(control, 0, Qt::AlignHCenter);
    auto* label = new QLabel(LoadText(caption), box);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() * 0.85);
    label->setFont(f);
    v->addWidget(label, 0, Qt::AlignHCenter);
    return box;
}

}  // namespace

CCallDialog::CCallDialog(QWidget* parent) : CRoundedDialog(parent) {
    setObjectName("call");
    setWindowTitle(LoadText(IDS_APP_NAME));
    m_strCallingBase = LoadText(IDS_CALL_CALLING);
    BuildControls();
    BindFaders();
    ShowSpeech(false);
}

CCallDialog::~CCallDialog() = default;

void CCallDialog::BindFaders() {
    m_pSpeakerAdapter = std::make_unique<CSliderFaderAdapter>(m_pSpeaker, &m_SpeakerFader);
    m_pMicrophoneAdapter = std::make_unique<CSliderFaderAdapter>(m_pMicrophone, &m_MicrophoneFader);
    m_SpeakerFader.Init(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, MIXER_NO_SOURCE_LINE,
                        MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain);
    m_MicrophoneFader.Init(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE,
                           MIXERCONTROL_CONTROLTYPE_VOLUME, CMixerFader::kFaderMain);
}

void CCallDialog::BuildControls() {
    // Title row: the peer and a close button.
    m_pTitle = new QLabel(this);
    m_pTitle->setObjectName("title");
    QFont bold = m_pTitle->font();
    bold.setBold(true);
    m_pTitle->setFont(bold);
    m_pTitle->setTextFormat(Qt::PlainText);
    m_pClose = new QToolButton(this);
    m_pClose->setObjectName("close");
    m_pClose->setIcon(style()->standardIcon(QStyle::SP_TitleBarCloseButton));
    m_pClose->setAutoRaise(true);
    m_pClose->setToolTip(LoadText(IDS_CALL_HANGUP));
    connect(m_pClose, &QToolButton::clicked, this, &CCallDialog::reject);
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(m_pTitle, 1);
    titleRow->addWidget(m_pClose);

    // Calling mode: one label in place of the media controls.
    m_pCalling = new QLabel(this);
    m_pCalling->setObjectName("calling");
    m_pCalling->setAlignment(Qt::AlignCenter);
    m_pCalling->setTextFormat(Qt::PlainText);
    QFont big = m_pCalling->font();
    big.setPointSizeF(big.pointSizeF() * 1.6);
    big.setBold(true);
    m_pCalling->setFont(big);
    m_pCalling->hide();

    // The media controls.
    m_pMedia = new QWidget(this);
    m_pMedia->setObjectName("media");
    m_pSpeaker = VolumeSlider(m_pMedia, "speaker", IDS_CALL_SPEAKER);
    m_pMicrophone = VolumeSlider(m_pMedia, "microphone", IDS_CALL_MICROPHONE);

    m_pSpeech = new QLabel(m_pMedia);
    m_pSpeech->setObjectName("speech");
    m_pSpeech->setFixedSize(24, 24);
    m_pSilence = new QSlider(Qt::Horizontal, m_pMedia);
    m_pSilence->setObjectName("silence");
    m_pSilence->setRange(0, kSilenceMax);
    m_pSilence->setPageStep(1000);
    m_pSilence->setSingleStep(100);
    m_pSilence->setToolTip(LoadText(IDS_CALL_SILENCE));
    connect(m_pSilence, &QSlider::valueChanged, this, [this] {
        if (!m_pSilence->isSliderDown())
            OnSilenceMoved();
    });
    connect(m_pSilence, &QSlider::sliderReleased, this, &CCallDialog::OnSilenceMoved);

    m_pVideo = new QCheckBox(LoadText(IDS_CALL_VIDEO), m_pMedia);
    m_pVideo->setObjectName("video");
    m_pVideo->setEnabled(false);
    connect(m_pVideo, &QCheckBox::toggled, this, &CCallDialog::OnVideoToggled);
    m_pFrameRate = new QSlider(Qt::Horizontal, m_pMedia);
    m_pFrameRate->setObjectName("frameRate");
    m_pFrameRate->setRange(kFrameRateMin, kFrameRateMax);
    m_pFrameRate->setPageStep(5);
    m_pFrameRate->setToolTip(LoadText(IDS_CALL_FRAME_RATE));
    m_pFrameRate->setEnabled(false);
    m_pFrameRateValue = new QLabel(m_pMedia);
    m_pFrameRateValue->setObjectName("frameRateValue");
    m_pFrameRateValue->setMinimumWidth(m_pFrameRateValue->fontMetrics().horizontalAdvance("30") + 2);
    m_pFrameRateValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Dragging only shows the number; the camera and the encoder change once, on release.
    connect(m_pFrameRate, &QSlider::valueChanged, this, [this](int value) {
        ShowFrameRate(value);
        if (!m_pFrameRate->isSliderDown())
            OnFrameRateMoved();
    });
    connect(m_pFrameRate, &QSlider::sliderReleased, this, &CCallDialog::OnFrameRateMoved);
    ShowFrameRate(m_pFrameRate->value());

    auto* volumes = new QHBoxLayout;
    volumes->setSpacing(10);
    volumes->addWidget(Captioned(m_pSpeaker, IDS_CALL_SPEAKER, m_pMedia));
    volumes->addWidget(Captioned(m_pMicrophone, IDS_CALL_MICROPHONE, m_pMedia));
    auto* top = new QHBoxLayout;
    top->addLayout(volumes);
    top->addStretch();

    auto* controls = new QGridLayout;
    controls->setHorizontalSpacing(8);
    controls->addWidget(m_pSpeech, 0, 0);
    controls->addWidget(new QLabel(LoadText(IDS_CALL_SILENCE), m_pMedia), 0, 1);
    controls->addWidget(m_pSilence, 0, 2);
    controls->addWidget(m_pVideo, 1, 0, 1, 1);
    controls->addWidget(new QLabel(LoadText(IDS_CALL_FRAME_RATE), m_pMedia), 1, 1);
    controls->addWidget(m_pFrameRate, 1, 2);
    controls->addWidget(m_pFrameRateValue, 1, 3);
    controls->setColumnStretch(2, 1);

    auto* media = new QVBoxLayout(m_pMedia);
    media->setContentsMargins(0, 0, 0, 0);
    media->addLayout(top);
    media->addLayout(controls);

    // Chat.
    m_pChat = new QListWidget(this);
    m_pChat->setObjectName("chat");
    m_pChat->setWordWrap(true);
    m_pChat->setMinimumHeight(110);
    // The last line is made current so that the list scrolls to it; no highlight is wanted.
    m_pChat->setSelectionMode(QAbstractItemView::NoSelection);
    m_pChat->setFocusPolicy(Qt::NoFocus);
    m_pInput = new QLineEdit(this);
    m_pInput->setObjectName("input");
    m_pInput->setMaxLength(1000);
    connect(m_pInput, &QLineEdit::returnPressed, this, &CCallDialog::OnSend);
    m_pSend = new QPushButton(LoadText(IDS_CALL_SEND), this);
    m_pSend->setObjectName("send");
    m_pSend->setAutoDefault(false);
    connect(m_pSend, &QPushButton::clicked, this, &CCallDialog::OnSend);
    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(m_pInput, 1);
    inputRow->addWidget(m_pSend);

    m_pHangup = new QPushButton(LoadText(IDS_CALL_HANGUP), this);
    m_pHangup->setObjectName("hangup");
    m_pHangup->setAutoDefault(false);
    m_pHangup->setMinimumWidth(120);
    m_pHangup->setStyleSheet(
        "QPushButton { background: #c62828; color: white; border: none; border-radius: 4px; padding: 6px "
        "16px; }"
        "QPushButton:pressed { background: #8e1c1c; }");
    connect(m_pHangup, &QPushButton::clicked, this, &CCallDialog::reject);
    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(m_pHangup);
    bottom->addStretch();

    // The local preview, hidden until video runs; the window then widens by its width.
    m_pPreview = new CVideoView(this);
    m_pPreview->setObjectName("localPreview");
    m_pPreview->setFixedSize(kPreviewWidth, kPreviewHeight);
    m_pPreview->SetTargetSize(CVideoView::TargetWidthFor(kPreviewWidth), kPreviewHeight);
    m_pPreview->hide();

    auto* call = new QVBoxLayout;
    call->setSpacing(8);
    call->addWidget(m_pCalling);
    call->addWidget(m_pMedia);
    call->addWidget(m_pChat, 1);
    call->addLayout(inputRow);
    // Under the chat, where it stays when the preview widens the window.
    call->addLayout(bottom);
    auto* body = new QHBoxLayout;
    body->setSpacing(kPreviewGap);
    body->addLayout(call, 1);
    body->addWidget(m_pPreview, 0, Qt::AlignTop);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 10, 16, 14);
    layout->setSpacing(8);
    layout->addLayout(titleRow);
    layout->addLayout(body, 1);
    // One size for both modes: calling mode's label takes the place of the media controls.
    m_pCalling->setMinimumHeight(m_pMedia->sizeHint().height());
    setFixedSize(sizeHint().expandedTo(QSize(400, 0)));

    // The peer's picture, in a window of its own that the receiving side shows.
    m_pVideoWindow = new CVideoWindow(this);
}

void CCallDialog::ShowCall(const std::string& title) {
    m_pChat->clear();
    m_pInput->clear();
    const QString t = QString::fromStdString(title);
    m_pTitle->setText(t);
    setWindowTitle(t);
    ShowSpeech(false);
    m_pVideo->setEnabled(true);
    m_pFrameRate->setEnabled(true);
    show();
    raise();
    activateWindow();
    m_pInput->setFocus();
}

void CCallDialog::HideCall() {
    hide();
}

void CCallDialog::SetCallingMode(bool bOn) {
    m_bCallingMode = bOn;
    m_pMedia->setVisible(!bOn);
    m_pCalling->setVisible(bOn);
    if (bOn)
        SetCallingFrame(0);
}

QString CCallDialog::CallingText(const QString& base, int brackets) {
    brackets = std::clamp(brackets, 0, CCallControl::kMaxBrackets);
    return QString(brackets, '(') + base + QString(brackets, ')');
}

void CCallDialog::SetCallingFrame(int brackets) {
    m_pCalling->setText(CallingText(m_strCallingBase, brackets));
}

void CCallDialog::SetSilenceSlider(int value) {
    // Showing the stored value is not a move of the user's.
    const QSignalBlocker block(m_pSilence);
    m_pSilence->setValue(value);
}

void CCallDialog::OnSilenceMoved() {
    if (m_pControl != nullptr)
        m_pControl->SetSilenceThreshold(m_pSilence->value());
}

void CCallDialog::AppendChatLine(const std::string& text, bool bReceived) {
    auto* item = new QListWidgetItem(QString::fromStdString(text));
    item->setData(Qt::UserRole, bReceived ? STYLE_RECEIVED : STYLE_OWN);
    if (bReceived) {
        item->setForeground(kReceivedLine);
        item->setBackground(kReceivedBackground);
        item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    } else {
        item->setForeground(kOwnLine);
        item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    m_pChat->addItem(item);
    m_pChat->setCurrentRow(m_pChat->count() - 1);
    m_pChat->scrollToBottom();
}

void CCallDialog::OnSend() {
    const std::string text = m_pInput->text().toStdString();
    if (text.empty() || m_pControl == nullptr)
        return;
    if (m_pControl->SendText(text))
        m_pInput->clear();
    m_pInput->setFocus();
}

void CCallDialog::ShowNotice(const std::string& text) {
    CNoticeDialog notice(QString::fromStdString(text), true, parentWidget());
    notice.exec();
}

ICallView::EPrompt CCallDialog::RunPrompt(const std::string& text) {
    CNoticeDialog prompt(QString::fromStdString(text), false, parentWidget());
    prompt.setObjectName("incoming");
    // An incoming call must be seen even when the main window sits in the tray.
    prompt.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    m_pPrompt = &prompt;
    m_promptResult.reset();
    const int answer = prompt.exec();
    m_pPrompt = nullptr;
    if (m_promptResult)
        return *m_promptResult;
    return answer == QDialog::Accepted ? PROMPT_ACCEPT : PROMPT_REJECT;
}

void CCallDialog::ClosePrompt(EPrompt result) {
    if (m_pPrompt == nullptr || m_promptResult)
        return;
    m_promptResult = result;
    m_pPrompt->done(QDialog::Rejected);
}

LRESULT CCallDialog::WindowProc(UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_AUDIO_SILENCE) {
        if (wParam == 0)
            ShowSpeech(true);
        else if (wParam == 1)
            ShowSpeech(false);
    }
    return 0;
}

QPixmap CCallDialog::SpeechIcon(bool bSpeaking) {
    QPixmap pm(24, 24);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(bSpeaking ? QColor(0x2e, 0x9d, 0x4a) : QColor(0xb0, 0xb0, 0xb0));
    p.drawEllipse(QRectF(1, 1, 22, 22));
    // A microphone: capsule, cradle and stand.
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(9, 4.5, 6, 10), 3, 3);
    QPen pen(Qt::white, 1.6);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6.5, 7, 11, 10), 180 * 16, 180 * 16);
    p.drawLine(QPointF(12, 17), QPointF(12, 19.5));
    p.drawLine(QPointF(9.5, 19.5), QPointF(14.5, 19.5));
    return pm;
}

void CCallDialog::ShowSpeech(bool bSpeaking) {
    m_bSpeaking = bSpeaking;
    m_pSpeech->setPixmap(SpeechIcon(bSpeaking));
    m_pSpeech->setToolTip(LoadText(bSpeaking ? IDS_CALL_SPEAKING : IDS_CALL_QUIET));
}

void CCallDialog::reject() {
    if (m_pControl != nullptr && isVisible()) {
        m_pControl->HangUp();
        return;
    }
    hide();
}

void CCallDialog::closeEvent(QCloseEvent* e) {
    e->ignore();
    reject();
}

void CCallDialog::hideEvent(QHideEvent* e) {
    // Minimising is not the end of the call; anything else ends its video.
    if (!e->spontaneous()) {
        SetVideoChecked(false);
        m_pVideo->setEnabled(false);
        m_pFrameRate->setEnabled(false);
        if (m_pControl != nullptr) {
            m_pControl->SetVideo(false);
            m_pControl->Receiver().OnVideoStop();
        }
        SetLocalVideoShown(false);
        m_pVideoWindow->Hide();
    }
    CRoundedDialog::hideEvent(e);
}

void CCallDialog::OnVideoToggled(bool bChecked) {
    // A start that fails unchecks the box again (through SetVideoChecked) and shows the notice.
    if (m_pControl != nullptr)
        m_pControl->SetVideo(bChecked);
    else
        SetVideoChecked(false);
}

void CCallDialog::SetVideoChecked(bool bChecked) {
    const QSignalBlocker block(m_pVideo);
    m_pVideo->setChecked(bChecked);
}

IVideoPicture* CCallDialog::GetLocalPreview() {
    return m_pPreview;
}

void CCallDialog::SetLocalVideoShown(bool bShown) {
    if (bShown == m_pPreview->isVisibleTo(this))
        return;
    if (!bShown) {
        m_pPreview->hide();
        m_pPreview->ClearPicture();
        if (m_sizeWithoutPreview.isValid())
            setFixedSize(m_sizeWithoutPreview);
        m_sizeWithoutPreview = QSize();
        return;
    }
    m_sizeWithoutPreview = size();
    m_pPreview->show();
    const int height = std::max(m_sizeWithoutPreview.height(), minimumSizeHint().height());
    setFixedSize(m_sizeWithoutPreview.width() + kPreviewGap + kPreviewWidth, height);
    // Widening to the right must not push the window off the screen.
    if (const QScreen* s = screen(); s != nullptr && isVisible()) {
        const QRect area = s->availableGeometry();
        const QRect frame = frameGeometry();
        if (frame.right() > area.right())
            move(std::max(area.left(), pos().x() - (frame.right() - area.right())), pos().y());
    }
}

void CCallDialog::SetFrameRateSlider(int value) {
    // Showing the stored value is not a move of the user's.
    const QSignalBlocker block(m_pFrameRate);
    m_pFrameRate->setValue(std::clamp(value, kFrameRateMin, kFrameRateMax));
    ShowFrameRate(m_pFrameRate->value());
}

void CCallDialog::ShowFrameRate(int value) {
    m_pFrameRateValue->setText(QString::number(value));
}

void CCallDialog::OnFrameRateMoved() {
    if (m_pControl != nullptr)
        m_pControl->SetFrameRate(m_pFrameRate->value());
}

void CCallDialog::CRemoteVideo::ShowVideo(int, int) {
    m_owner.m_pVideoWindow->ShowAtZoom2();
}

void CCallDialog::CRemoteVideo::HideVideo() {
    m_owner.m_pVideoWindow->Hide();
}

IVideoPicture& CCallDialog::CRemoteVideo::Picture() {
    return *m_owner.m_pVideoWindow->View();
}
