// CDirectoryDialog (dialog 165): the user directory, a web page of the server searched by country, city,
// genre, language and keywords, whose links call a user or offer them as a new contact.
#pragma once

#include <functional>
#include <string>

#include "app/DirectoryLink.h"
#include "app/DirectoryQuery.h"
#include "ui/RoundedDialog.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QUrl;
class QWebEngineView;

// What the directory's links lead to outside the dialog. offerContact runs once the user has agreed
// (notice 121) to add the NTV.
struct SDirectoryActions {
    std::function<void(const std::string&)> placeCall, offerContact;
};

class CDirectoryDialog : public CRoundedDialog {
    Q_OBJECT
public:
    enum {
        IDD = 165,
        IDC_BROWSER = 1043,
        IDC_CITY = 1075,
        IDC_GENRE = 1076,
        IDC_LANGUAGE = 1077,
        IDC_KEYWORDS = 1078,
    };

    // `directoryUrl` comes from the user information; empty while none has arrived.
    CDirectoryDialog(const std::string& directoryUrl, SDirectoryActions actions, QWidget* parent = nullptr);

    SDirectorySearch Fields() const;
    // Shows the directory's answer to the fields (nothing without a directory address).
    void Search();
    // Every box back to "any", the texts emptied.
    void Reset();

    QWebEngineView* Browser() const { return m_pBrowser; }
    QComboBox* CountryBox() const { return m_pCountry; }
    QLineEdit* CityEdit() const { return m_pCity; }
    QComboBox* GenreBox() const { return m_pGenre; }
    QComboBox* LanguageBox() const { return m_pLanguage; }
    QLineEdit* KeywordsEdit() const { return m_pKeywords; }
    QPushButton* SearchButton() const { return m_pSearch; }
    QPushButton* ResetButton() const { return m_pReset; }
    QPushButton* CloseButton() const { return m_pClose; }

private:
    // Whether the browser may go on; a link the dialog acts on is cancelled and acted on afterwards,
    // outside the browser's own call.
    bool OnNavigation(const QUrl& url, bool bTyped, bool bMainFrame);
    void Act(const SDirectoryLink& link, const QUrl& url);
    void OfferContact(const std::string& ntv);

    std::string m_strDirectoryUrl;
    // The directory address written as the browser writes the addresses it asks about.
    std::string m_strDirectoryPrefix;
    SDirectoryActions m_Actions;
    bool m_bAsking = false;

    QWebEngineView* m_pBrowser;
    QComboBox* m_pCountry;
    QLineEdit* m_pCity;
    QComboBox* m_pGenre;
    QComboBox* m_pLanguage;
    QLineEdit* m_pKeywords;
    QPushButton* m_pSearch;
    QPushButton* m_pReset;
    QPushButton* m_pClose;
    QLabel* m_pHint;
};
