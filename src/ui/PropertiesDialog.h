// CPropertiesDialog (dialog 142): the properties sheet. A list of four pages beside the page shown
// (General, Connection, Audio, Video); Apply hands what the pages hold to ApplyProperties, OK applies
// and closes, Cancel and Escape close without applying. In dynamic mode nothing is applied and OK
// leaves the sheet open.
#pragma once

#include <array>
#include <functional>

#include "app/PropertiesApply.h"
#include "ui/PropertiesPage.h"
#include "ui/RoundedDialog.h"

class CClientApp;
class CConnectionPage;
class CGeneralPage;
class CSessionController;
class QLabel;
class QListWidget;
class QPushButton;
class QStackedWidget;

class CPropertiesDialog : public CRoundedDialog, private IPropertiesHost {
    Q_OBJECT
public:
    enum { IDD = 142 };
    enum : int { IDC_OK = 1, IDC_APPLY = 3, IDC_CANCEL = 1085, IDC_VERSION = 1109 };
    enum { ROW_GENERAL, ROW_CONNECTION, ROW_AUDIO, ROW_VIDEO, ROW_COUNT };

    // `placeByCorner` puts the main window where the applied corner says.
    CPropertiesDialog(CClientApp& app, CSessionController& session, std::function<void()> placeByCorner,
                      QWidget* parent = nullptr);
    ~CPropertiesDialog() override;

    // Applies what the pages hold; the report of what it did.
    SApplyReport Apply();
    void ShowPage(int row);

    QListWidget* PageList() const { return m_pList; }
    QStackedWidget* Pages() const { return m_pStack; }
    CGeneralPage* GeneralPage() const { return m_pGeneral; }
    CConnectionPage* ConnectionPage() const { return m_pConnection; }
    QWidget* Page(int row) const { return m_pages[static_cast<size_t>(row)].m_pWidget; }
    QLabel* VersionLabel() const { return m_pVersion; }
    QPushButton* OkButton() const { return m_pOk; }
    QPushButton* ApplyButton() const { return m_pApply; }
    QPushButton* CancelButton() const { return m_pCancel; }

    void accept() override;
    void reject() override;

private:
    // IPropertiesHost
    void ShowNotice(UINT id) override;
    void PlaceByCorner() override;
    char SessionState() const override;
    void Connect() override;

    void StopPages();

    CClientApp& m_app;
    CSessionController& m_session;
    std::function<void()> m_placeByCorner;
    CGeneralPage* m_pGeneral = nullptr;
    CConnectionPage* m_pConnection = nullptr;
    std::array<SPropertiesPage, ROW_COUNT> m_pages;
    QListWidget* m_pList = nullptr;
    QStackedWidget* m_pStack = nullptr;
    QLabel* m_pVersion = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pApply = nullptr;
    QPushButton* m_pCancel = nullptr;
    bool m_bStopped = false;
};
