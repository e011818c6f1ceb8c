// CContactsDialog (dialog 151): the contacts window, modal over the main window. It presents a
// CContactsWindowModel: lines in list order with status icons, a find field, and Call, Append, Delete,
// Edit and Search. The main window hands it the session's contact events while it is open; every
// operation acts on the selected line's NTV.
#pragma once

#include <QPixmap>
#include <functional>
#include <string>

#include "app/ContactsWindowModel.h"
#include "ui/RoundedDialog.h"

class CSessionController;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;

class CContactsDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum { IDD = 151 };
    enum : unsigned {
        IDC_CALL = 1,
        IDC_APPEND = 1007,
        IDC_DELETE = 1008,
        IDC_SEARCH = 1009,
        IDC_EDIT = 1010,
        IDC_LIST = 1087,
        IDC_FIND = 1108,
    };

    explicit CContactsDialog(CSessionController& session, QWidget* parent = nullptr);
    ~CContactsDialog() override;

    // Call places the call through this (the call logic's PlaceCall).
    void SetCallHandler(std::function<void(const std::string&)> handler) { m_onCall = std::move(handler); }
    // Search opens the directory through this; the button is enabled only while it is set.
    void SetSearchHook(std::function<void()> hook);
    // The window closes when `w` appears: a call window must not sit behind a modal list.
    void CloseWhenShown(QWidget* w);

    // The contact list or the session changed: lines, icons and buttons follow.
    void Refresh();

    void Call();
    void Append();
    void Delete();
    void Edit();
    void Search();

    // The status icon drawn for the lists (ready green, busy amber, disconnected grey).
    static QPixmap StatusIcon(EContactIcon icon);

    const CContactsWindowModel& Model() const { return m_Model; }
    QListWidget* List() const { return m_pList; }
    // The presence icon (EContactIcon) of the line showing `text`; -1 when no line shows it.
    int IconOf(const QString& text) const;
    QLineEdit* FindEdit() const { return m_pFind; }
    QPushButton* CallButton() const { return m_pCall; }
    QPushButton* AppendButton() const { return m_pAppend; }
    QPushButton* DeleteButton() const { return m_pDelete; }
    QPushButton* EditButton() const { return m_pEdit; }
    QPushButton* SearchButton() const { return m_pSearch; }
    QPushButton* CloseButton() const { return m_pClose; }

protected:
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void OnSelectionChanged();
    void OnDoubleClicked();
    void OnFind(const QString& text);
    void SelectInList(int row);
    void UpdateButtons();

    CSessionController& m_Session;
    CContactsWindowModel m_Model;
    std::function<void(const std::string&)> m_onCall;
    std::function<void()> m_onSearch;
    QWidget* m_pWatched = nullptr;

    QListWidget* m_pList = nullptr;
    QLabel* m_pEmpty = nullptr;
    QLineEdit* m_pFind = nullptr;
    QPushButton* m_pCall = nullptr;
    QPushButton* m_pAppend = nullptr;
    QPushButton* m_pDelete = nullptr;
    QPushButton* m_pEdit = nullptr;
    QPushButton* m_pSearch = nullptr;
    QPushButton* m_pClose = nullptr;
};
