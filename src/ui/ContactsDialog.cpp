#include "ui/ContactsDialog.h"

#include <QApplication>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStackedLayout>
#include <QVBoxLayout>

#include "app/ClientApp.h"
#include "app/SessionController.h"
#include "platform/StringTable.h"
#include "ui/ContactDialog.h"
#include "ui/NoticeDialog.h"
#include "ui/UiText.h"

namespace {

// Each line keeps its contact's NTV (Qt::UserRole) and its presence icon.
constexpr int kIconRole = Qt::UserRole + 1;

const char* kStyle = R"(
QListWidget#contacts { background: #ffffff; border: 1px solid #d5d5d5; border-radius: 8px; padding: 4px;
    outline: none; }
QListWidget#contacts::item { padding: 5px 4px; border-radius: 5px; color: #202020; }
QListWidget#contacts::item:hover { background: #eef5fc; }
QListWidget#contacts::item:selected { background: #dbe9f7; color: #202020; }
QLabel#empty { color: #7a7a7a; }
QLineEdit#find { padding: 4px 6px; border: 1px solid #c3c3c3; border-radius: 6px; background: #ffffff; }
QPushButton#call { background: #2e7d32; color: white; border: none; border-radius: 6px; padding: 7px 14px;
    font-weight: bold; }
QPushButton#call:pressed { background: #1b5e20; }
QPushButton#call:disabled { background: #b9cdb9; color: #f4f4f4; }
QPushButton#append, QPushButton#edit, QPushButton#delete, QPushButton#search {
    padding: 5px 10px; border: 1px solid #c3c3c3; border-radius: 6px; background: #fbfbfb; }
QPushButton#append:hover, QPushButton#edit:hover, QPushButton#delete:hover, QPushButton#search:hover {
    border-color: #1f6fb2; background: #eef5fc; }
QPushButton#append:disabled, QPushButton#edit:disabled, QPushButton#delete:disabled,
QPushButton#search:disabled { color: #a0a0a0; background: #f2f2f2; border-color: #d8d8d8; }
QPushButton#close { border: none; border-radius: 5px; background: transparent; font-size: 15px;
    color: #505050; }
QPushButton#close:hover { background: #d9534f; color: #ffffff; }
)";

QPushButton* Button(QWidget* parent, UINT textId, const char* name) {
    auto* b = new QPushButton(LoadText(textId), parent);
    b->setObjectName(name);
    // Enter in the find field must not press a button.
    b->setAutoDefault(false);
    b->setDefault(false);
    return b;
}

constexpr int kIconSize = 14;

}  // namespace

QPixmap CContactsDialog::StatusIcon(EContactIcon icon) {
    const qreal ratio = qApp->devicePixelRatio();
    QPixmap pm(QSize(kIconSize, kIconSize) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QColor fill;
    switch (icon) {
        case kIconReady:
            fill = QColor(0x2e, 0xa0, 0x43);
            break;
        case kIconBusy:
            fill = QColor(0xe0, 0x9a, 0x1a);
            break;
        default:
            fill = QColor(0xa6, 0xa6, 0xa6);
            break;
    }
    p.setPen(QPen(fill.darker(125), 1.0));
    p.setBrush(fill);
    const QRectF dot(2, 2, kIconSize - 4, kIconSize - 4);
    p.drawEllipse(dot);
    if (icon == kIconBusy) {
        // A short bar, so that busy differs from ready by more than its colour.
        p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4.8, kIconSize / 2.0), QPointF(kIconSize - 4.8, kIconSize / 2.0));
    } else if (icon == kIconDisconnected) {
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(dot.adjusted(3, 3, -3, -3));
    }
    return pm;
}

CContactsDialog::CContactsDialog(CSessionController& session, QWidget* parent)
    : CRoundedDialog(parent), m_Session(session), m_Model(session) {
    setObjectName("contactsDialog");
    setWindowTitle(LoadText(IDS_CONTACTS_TITLE));
    setStyleSheet(QString::fromLatin1(kStyle));

    auto* title = new QLabel(LoadText(IDS_CONTACTS_TITLE), this);
    QFont big = title->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.2);
    title->setFont(big);
    m_pClose = Button(this, IDS_CLOSE, "close");
    m_pClose->setText(QStringLiteral("×"));
    m_pClose->setToolTip(LoadText(IDS_CLOSE));
    m_pClose->setFixedSize(26, 24);
    connect(m_pClose, &QPushButton::clicked, this, &QDialog::reject);
    auto* caption = new QHBoxLayout;
    caption->addWidget(title);
    caption->addStretch();
    caption->addWidget(m_pClose);

    m_pFind = new QLineEdit(this);
    m_pFind->setObjectName("find");
    m_pFind->setPlaceholderText(LoadText(IDS_CONTACTS_FIND));
    m_pFind->setClearButtonEnabled(true);
    connect(m_pFind, &QLineEdit::textChanged, this, &CContactsDialog::OnFind);

    m_pList = new QListWidget(this);
    m_pList->setObjectName("contacts");
    m_pList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pList->setIconSize(QSize(kIconSize, kIconSize));
    m_pList->setMinimumSize(250, 260);
    connect(m_pList, &QListWidget::itemSelectionChanged, this, &CContactsDialog::OnSelectionChanged);
    connect(m_pList, &QListWidget::itemDoubleClicked, this, &CContactsDialog::OnDoubleClicked);
    m_pEmpty = new QLabel(LoadText(IDS_CONTACTS_EMPTY), this);
    m_pEmpty->setObjectName("empty");
    m_pEmpty->setWordWrap(true);
    m_pEmpty->setAlignment(Qt::AlignCenter);
    m_pEmpty->setMargin(20);
    auto* listArea = new QStackedLayout;
    listArea->setStackingMode(QStackedLayout::StackAll);
    listArea->addWidget(m_pEmpty);
    listArea->addWidget(m_pList);

    m_pCall = Button(this, IDS_KEYPAD_CALL, "call");
    m_pAppend = Button(this, IDS_CONTACTS_APPEND, "append");
    m_pEdit = Button(this, IDS_CONTACTS_EDIT, "edit");
    m_pDelete = Button(this, IDS_CONTACTS_DELETE, "delete");
    m_pSearch = Button(this, IDS_CONTACTS_SEARCH, "search");
    connect(m_pCall, &QPushButton::clicked, this, &CContactsDialog::Call);
    connect(m_pAppend, &QPushButton::clicked, this, &CContactsDialog::Append);
    connect(m_pEdit, &QPushButton::clicked, this, &CContactsDialog::Edit);
    connect(m_pDelete, &QPushButton::clicked, this, &CContactsDialog::Delete);
    connect(m_pSearch, &QPushButton::clicked, this, &CContactsDialog::Search);
    auto* changes = new QHBoxLayout;
    changes->setSpacing(6);
    for (QPushButton* b : {m_pAppend, m_pEdit, m_pDelete, m_pSearch})
        changes->addWidget(b);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 14);
    layout->setSpacing(8);
    layout->addLayout(caption);
    layout->addWidget(m_pFind);
    layout->addLayout(listArea, 1);
    layout->addLayout(changes);
    layout->addWidget(m_pCall);

    Refresh();
    m_pFind->setFocus();
}

CContactsDialog::~CContactsDialog() {
    if (m_pWatched != nullptr)
        m_pWatched->removeEventFilter(this);
}

void CContactsDialog::SetSearchHook(std::function<void()> hook) {
    m_onSearch = std::move(hook);
    UpdateButtons();
}

void CContactsDialog::CloseWhenShown(QWidget* w) {
    if (m_pWatched != nullptr)
        m_pWatched->removeEventFilter(this);
    m_pWatched = w;
    if (w != nullptr)
        w->installEventFilter(this);
}

bool CContactsDialog::eventFilter(QObject* watched, QEvent* e) {
    if (watched == m_pWatched && e->type() == QEvent::Show && isVisible())
        reject();
    return CRoundedDialog::eventFilter(watched, e);
}

void CContactsDialog::Refresh() {
    m_Model.Rebuild();
    const auto& lines = m_Model.Lines();
    QSignalBlocker block(m_pList);
    bool sameLines = m_pList->count() == static_cast<int>(lines.size());
    for (int i = 0; sameLines && i < m_pList->count(); ++i)
        sameLines = m_pList->item(i)->data(Qt::UserRole).toString().toStdString() == lines[i].m_strNtv;
    if (!sameLines) {
        m_pList->clear();
        for (const SContactLine& line : lines) {
            auto* item = new QListWidgetItem(m_pList);
            item->setData(Qt::UserRole, QString::fromStdString(line.m_strNtv));
        }
    }
    // Texts and icons are set again in place, so that a status reply does not move the list's view.
    for (int i = 0; i < m_pList->count(); ++i) {
        QListWidgetItem* item = m_pList->item(i);
        const SContactLine& line = lines[static_cast<size_t>(i)];
        item->setText(QString::fromStdString(line.m_strText));
        item->setToolTip(QString::fromStdString(line.m_strTip));
        item->setIcon(StatusIcon(line.m_nIcon));
        item->setData(kIconRole, static_cast<int>(line.m_nIcon));
    }
    SelectInList(m_Model.SelectedIndex());
    m_pEmpty->setVisible(lines.empty());
    m_pList->setVisible(!lines.empty());
    UpdateButtons();
}

void CContactsDialog::SelectInList(int row) {
    QSignalBlocker block(m_pList);
    if (row < 0) {
        m_pList->clearSelection();
        m_pList->setCurrentRow(-1);
        return;
    }
    m_pList->setCurrentRow(row);
    m_pList->scrollToItem(m_pList->item(row));
}

void CContactsDialog::UpdateButtons() {
    m_pCall->setEnabled(m_Model.CanCall());
    m_pDelete->setEnabled(m_Model.CanDelete());
    m_pEdit->setEnabled(m_Model.CanEdit());
    m_pAppend->setEnabled(m_Model.CanChangeList());
    m_pSearch->setEnabled(static_cast<bool>(m_onSearch));
}

void CContactsDialog::OnSelectionChanged() {
    const QList<QListWidgetItem*> chosen = m_pList->selectedItems();
    if (chosen.isEmpty())
        m_Model.ClearSelection();
    else
        m_Model.Select(chosen.front()->data(Qt::UserRole).toString().toStdString());
    UpdateButtons();
}

void CContactsDialog::OnDoubleClicked() {
    OnSelectionChanged();
    if (m_Model.CanCall())
        Call();
}

void CContactsDialog::OnFind(const QString& text) {
    const int row = m_Model.Find(text.toStdString());
    if (row < 0)
        return;
    SelectInList(row);
    UpdateButtons();
}

void CContactsDialog::Call() {
    const std::string ntv = m_Model.CallTarget();
    if (ntv.empty())
        return;
    if (m_onCall)
        m_onCall(ntv);
    // The call window takes over; a modal list over it would keep the user from it.
    accept();
}

void CContactsDialog::Append() {
    if (!m_Model.CanChangeList())
        return;
    const size_t before = m_Session.App().Contacts().size();
    if (OfferNewContact(this, m_Session, std::string())) {
        // The new contact is the last of the list; it becomes the selected line.
        const CContactList& list = m_Session.App().Contacts();
        if (list.size() > before)
            m_Model.Select(list[list.size() - 1].m_strNtv);
    }
    Refresh();
}

void CContactsDialog::Delete() {
    if (!m_Model.CanDelete())
        return;
    // The notice runs its own loop: the list may be refilled meanwhile, so the NTV decides, not the row.
    const std::string ntv = m_Model.SelectedNtv();
    const bool ok = CNoticeDialog::Ask(this, IDS_DELETE_CONTACT, false);
    if (ok && m_Model.Select(ntv))
        m_Model.DeleteSelected();
    Refresh();
}

void CContactsDialog::Edit() {
    const SContactLine* line = m_Model.Selected();
    if (line == nullptr || !m_Model.CanEdit())
        return;
    const std::string ntv = line->m_strNtv;
    const SContactRecord* record = m_Session.App().Contacts().Find(ntv);
    CContactDialog dialog(ntv, record != nullptr ? record->m_strNickname : std::string(), this, false);
    if (dialog.exec() == QDialog::Accepted && m_Model.Select(ntv))
        m_Model.RenameSelected(dialog.Nickname());
    Refresh();
}

void CContactsDialog::Search() {
    if (m_onSearch)
        m_onSearch();
}

int CContactsDialog::IconOf(const QString& text) const {
    for (int i = 0; i < m_pList->count(); ++i)
        if (m_pList->item(i)->text() == text)
            return m_pList->item(i)->data(kIconRole).toInt();
    return -1;
}
