// CVideoPage (dialog 146): the properties sheet's page of the camera and the frame rate, with a live
// preview of the chosen camera. The preview runs only while "Preview" is checked and stops when the
// camera is changed, the camera is lost, or the page stops or goes.
#pragma once

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

class CClientApp;
class CVideoPreview;
class CVideoView;
class QCheckBox;
class QComboBox;
class QLabel;
class QSlider;
struct SPropertiesValues;

class CVideoPage : public QWidget {
    Q_OBJECT
public:
    enum { IDD = 146 };
    enum { IDC_VIEW = 1011, IDC_DEVICE = 1012, IDC_PREVIEW = 1013, IDC_FRAMES = 1014 };
    static constexpr int kFrameRateMin = 1;
    static constexpr int kFrameRateMax = 30;
    static constexpr int kFrameRateStart = 15;
    static constexpr int kViewWidth = 320;
    static constexpr int kViewHeight = 240;

    CVideoPage(CClientApp& app, QWidget* parent = nullptr);
    ~CVideoPage() override;

    // The selected camera (a stored one that is not listed today, while no other is picked) and the rate.
    void Store(SPropertiesValues& values) const;
    // Unchecks "Preview" and stops the preview; nothing when it is not running.
    void StopPreview();

    QComboBox* DeviceList() const { return m_pDevice; }
    QCheckBox* PreviewBox() const { return m_pPreviewBox; }
    QSlider* FramesSlider() const { return m_pFrames; }
    CVideoView* PreviewView() const { return m_pView; }
    CVideoPreview& Preview() { return *m_pPreview; }

private:
    void OnPreviewToggled(bool checked);
    void OnDeviceChosen();
    void OnFramesReleased();
    void OnCameraLost();
    void ShowFrameRate(int value);
    std::string SelectedDevice() const;

    CClientApp& m_App;
    QComboBox* m_pDevice = nullptr;
    QCheckBox* m_pPreviewBox = nullptr;
    QSlider* m_pFrames = nullptr;
    QLabel* m_pFramesValue = nullptr;
    CVideoView* m_pView = nullptr;
    std::vector<std::string> m_Rows;
    // Declared after the view it draws into, so it stops before the view goes.
    std::unique_ptr<CVideoPreview> m_pPreview;
};
