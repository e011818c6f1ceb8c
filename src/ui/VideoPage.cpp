#include "ui/VideoPage.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "app/ClientApp.h"
#include "app/DeviceChoice.h"
#include "app/PropertiesValues.h"
#include "app/VideoPreview.h"
#include "platform/StringTable.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"
#include "ui/VideoView.h"
#include "video/CaptureDrivers.h"

CVideoPage::CVideoPage(CClientApp& app, QWidget* parent) : QWidget(parent), m_App(app) {
    setObjectName("videoPage");
    const CSettings& settings = m_App.Settings();

    m_pDevice = new QComboBox(this);
    m_pDevice->setObjectName("videoDevice");
    m_pView = new CVideoView(this);
    m_pView->setObjectName("previewView");
    m_pView->setFixedSize(kViewWidth, kViewHeight);
    m_pView->SetTargetSize(CVideoView::TargetWidthFor(kViewWidth), kViewHeight);
    m_pPreview = std::make_unique<CVideoPreview>(*m_pView);
    m_pPreview->SetLostHandler([this] { OnCameraLost(); });

    m_pPreviewBox = new QCheckBox(LoadText(IDS_MEDIA_PREVIEW), this);
    m_pPreviewBox->setObjectName("preview");
    m_pFrames = new QSlider(Qt::Horizontal, this);
    m_pFrames->setObjectName("frames");
    m_pFrames->setRange(kFrameRateMin, kFrameRateMax);
    m_pFrames->setPageStep(5);
    m_pFrames->setValue(kFrameRateStart);
    m_pFramesValue = new QLabel(this);
    m_pFramesValue->setObjectName("framesValue");
    m_pFramesValue->setMinimumWidth(m_pFramesValue->fontMetrics().horizontalAdvance("30") + 2);
    m_pFramesValue->setAlignment(Qt::AlignRight | Qt::AlignVCenter);

    for (const auto& [name, index] : EnumerateDrivers()) {
        m_Rows.push_back(name);
        m_pDevice->addItem(QString::fromStdString(name));
    }
    const std::string& stored = settings.GetVideoIn();
    const int row = RowOfStoredDevice(m_Rows, stored);
    m_pDevice->setCurrentIndex(row);
    if (m_Rows.empty()) {
        m_pDevice->setPlaceholderText(LoadText(IDS_MEDIA_NO_CAMERA));
        m_pDevice->setEnabled(false);
        m_pPreviewBox->setEnabled(false);
    } else if (row < 0) {
        m_pDevice->setPlaceholderText(QString::fromStdString(FormatString(IDS_MEDIA_NOT_LISTED, {stored})));
    }
    // Even without a camera: applying the page must not turn the stored rate into the starting 15.
    m_pFrames->setValue(std::clamp(settings.GetFrameRate(), kFrameRateMin, kFrameRateMax));
    ShowFrameRate(m_pFrames->value());

    connect(m_pPreviewBox, &QCheckBox::toggled, this, &CVideoPage::OnPreviewToggled);
    connect(m_pDevice, &QComboBox::currentIndexChanged, this, &CVideoPage::OnDeviceChosen);
    connect(m_pFrames, &QSlider::valueChanged, this, [this](int value) {
        ShowFrameRate(value);
        // Keys and clicks end their move at once; a drag ends on release.
        if (!m_pFrames->isSliderDown())
            OnFramesReleased();
    });
    connect(m_pFrames, &QSlider::sliderReleased, this, &CVideoPage::OnFramesReleased);

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);
    form->addRow(LoadText(IDS_MEDIA_CAMERA), m_pDevice);
    auto* rate = new QHBoxLayout;
    rate->addWidget(new QLabel(LoadText(IDS_MEDIA_FRAMES), this));
    rate->addWidget(m_pFrames, 1);
    rate->addWidget(m_pFramesValue);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(m_pView, 0, Qt::AlignHCenter);
    layout->addWidget(m_pPreviewBox);
    layout->addLayout(rate);
    layout->addStretch(1);
}

CVideoPage::~CVideoPage() {
    StopPreview();
}

std::string CVideoPage::SelectedDevice() const {
    return DeviceToStore(m_Rows, m_pDevice->currentIndex(), m_App.Settings().GetVideoIn());
}

void CVideoPage::Store(SPropertiesValues& values) const {
    values.m_strVideoIn = SelectedDevice();
    values.m_nFrameRate = m_pFrames->value();
}

void CVideoPage::StopPreview() {
    if (m_pPreviewBox->isChecked()) {
        const QSignalBlocker block(m_pPreviewBox);
        m_pPreviewBox->setChecked(false);
    }
    m_pPreview->Stop();
}

void CVideoPage::OnPreviewToggled(bool checked) {
    if (!checked) {
        m_pPreview->Stop();
        return;
    }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    // With nothing selected the kept name is tried, which opens the first camera, as a call would.
    const bool started = m_pPreview->Start(SelectedDevice(), m_pFrames->value());
    QApplication::restoreOverrideCursor();
    if (started)
        return;
    {
        const QSignalBlocker block(m_pPreviewBox);
        m_pPreviewBox->setChecked(false);
    }
    CNoticeDialog::Ask(this, IDS_VIDEO_FAILED, true);
}

void CVideoPage::OnDeviceChosen() {
    StopPreview();
}

void CVideoPage::OnFramesReleased() {
    m_pPreview->SetFrameRate(m_pFrames->value());
}

void CVideoPage::OnCameraLost() {
    // The preview has stopped already; only the box is left to show it.
    const QSignalBlocker block(m_pPreviewBox);
    m_pPreviewBox->setChecked(false);
}

void CVideoPage::ShowFrameRate(int value) {
    m_pFramesValue->setText(QString::number(value));
}
