#include "ui/GeneralPage.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/ClientApp.h"
#include "platform/StringTable.h"
#include "ui/UiText.h"

namespace {

constexpr int kRightDown = 3;
constexpr QSize kPictureSize(112, 88);

// A small screen on its stand, with the main window in `corner`.
QPixmap CornerPixmap(int corner) {
    const qreal ratio = 2.0;  // sharp on high-density screens too
    QPixmap pm(kPictureSize * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF bezel(4, 2, 104, 68);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x3a, 0x3f, 0x47));
    p.drawRoundedRect(bezel, 5, 5);
    const QRectF screen = bezel.adjusted(5, 5, -5, -5);
    QLinearGradient sky(screen.topLeft(), screen.bottomLeft());
    sky.setColorAt(0, QColor(0x8e, 0xc0, 0xe8));
    sky.setColorAt(1, QColor(0xd6, 0xea, 0xf8));
    p.setBrush(sky);
    p.drawRect(screen);
    // The stand.
    p.setBrush(QColor(0x5a, 0x5a, 0x5a));
    p.drawRect(QRectF(48, 70, 16, 8));
    p.drawRoundedRect(QRectF(36, 78, 40, 5), 2, 2);
    // The window, inset by a pixel from the corner of the screen.
    const QSizeF size(30, 24);
    const qreal x = (corner == 1 || corner == 3) ? screen.right() - size.width() - 2 : screen.left() + 2;
    const qreal y = (corner == 2 || corner == 3) ? screen.bottom() - size.height() - 2 : screen.top() + 2;
    const QRectF win(QPointF(x, y), size);
    p.setBrush(QColor(0xed, 0xed, 0xed));
    p.setPen(QPen(QColor(0x1f, 0x6f, 0xb2), 1.2));
    p.drawRoundedRect(win, 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1f, 0x6f, 0xb2));
    p.drawRoundedRect(QRectF(win.left() + 3, win.top() + 3, win.width() - 6, 4), 1.5, 1.5);
    p.setBrush(QColor(0xb8, 0xc4, 0xd0));
    for (int row = 0; row < 3; ++row)
        p.drawRect(QRectF(win.left() + 4, win.top() + 10 + row * 4, win.width() - 8 - row * 5, 2));
    return pm;
}

QCheckBox* Check(QWidget* parent, UINT textId, const char* name, bool checked) {
    auto* c = new QCheckBox(LoadText(textId), parent);
    c->setObjectName(name);
    c->setChecked(checked);
    return c;
}

}  // namespace

CGeneralPage::CGeneralPage(CClientApp& app, QWidget* parent) : QWidget(parent) {
    setObjectName("generalPage");
    const CSettings& s = app.Settings();

    auto* program = new QGroupBox(LoadText(IDS_GENERAL_PROGRAM), this);
    m_pStartOnInit = Check(program, IDS_GENERAL_START_ON_INIT, "startOnInit", s.GetStartOnInit());
    m_pAlwaysOnTop = Check(program, IDS_GENERAL_ALWAYS_ON_TOP, "alwaysOnTop", s.GetAlwaysOnTop());
    m_pStartMinimized = Check(program, IDS_GENERAL_START_MINIMIZED, "startMinimized", s.GetStartMinimized());
    m_pMinimizeOnClose =
        Check(program, IDS_GENERAL_MINIMIZE_ON_CLOSE, "minimizeOnClose", s.GetMinimizeOnClose());
    auto* programLayout = new QVBoxLayout(program);
    for (QCheckBox* c : {m_pStartOnInit, m_pAlwaysOnTop, m_pStartMinimized, m_pMinimizeOnClose})
        programLayout->addWidget(c);

    auto* position = new QGroupBox(LoadText(IDS_GENERAL_POSITION), this);
    const int stored = s.GetCornerPosition();
    const bool locked = stored >= 0 && stored <= 3;
    m_pLock = Check(position, IDS_GENERAL_LOCK_CORNER, "lockCorner", locked);

    auto* group = new QButtonGroup(this);
    const UINT texts[4] = {IDS_GENERAL_LEFT_UP, IDS_GENERAL_RIGHT_UP, IDS_GENERAL_LEFT_DOWN,
                           IDS_GENERAL_RIGHT_DOWN};
    const char* names[4] = {"leftUp", "rightUp", "leftDown", "rightDown"};
    auto* radios = new QGridLayout;
    radios->setHorizontalSpacing(14);
    auto* pictures = new QGridLayout;
    for (int i = 0; i < 4; ++i) {
        auto* r = new QRadioButton(LoadText(texts[i]), position);
        r->setObjectName(names[i]);
        group->addButton(r, i);
        radios->addWidget(r, i / 2, i % 2);
        m_corners[static_cast<size_t>(i)] = r;
        // The four pictures share one place; the chosen corner's is the one shown.
        auto* pic = new QLabel(position);
        pic->setObjectName(QStringLiteral("picture%1").arg(i));
        pic->setPixmap(CornerPixmap(i));
        pic->setFixedSize(kPictureSize);
        pictures->addWidget(pic, 0, 0);
        m_pictures[static_cast<size_t>(i)] = pic;
    }
    // Keeps its room while no picture is shown, so the page does not jump.
    pictures->setRowMinimumHeight(0, kPictureSize.height());
    pictures->setColumnMinimumWidth(0, kPictureSize.width());

    auto* positionLayout = new QGridLayout(position);
    positionLayout->addWidget(m_pLock, 0, 0);
    positionLayout->addLayout(radios, 1, 0, Qt::AlignTop);
    positionLayout->addLayout(pictures, 0, 1, 2, 1, Qt::AlignCenter);
    positionLayout->setColumnStretch(0, 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(program);
    layout->addWidget(position);
    layout->addStretch();

    if (locked)
        m_corners[static_cast<size_t>(stored)]->setChecked(true);
    for (QRadioButton* r : m_corners)
        r->setEnabled(locked);
    ShowCorner(locked ? stored : -1);

    connect(m_pLock, &QCheckBox::toggled, this, &CGeneralPage::OnLockToggled);
    connect(group, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on)
            ShowCorner(id);
    });
}

void CGeneralPage::OnLockToggled(bool locked) {
    for (QRadioButton* r : m_corners)
        r->setEnabled(locked);
    if (locked) {
        m_corners[kRightDown]->setChecked(true);
        ShowCorner(kRightDown);
        return;
    }
    // Unchecking one radio of an exclusive group is refused; the group steps aside for it.
    QButtonGroup* group = m_corners[0]->group();
    group->setExclusive(false);
    for (QRadioButton* r : m_corners)
        r->setChecked(false);
    group->setExclusive(true);
    ShowCorner(-1);
}

void CGeneralPage::ShowCorner(int corner) {
    for (int i = 0; i < 4; ++i)
        m_pictures[static_cast<size_t>(i)]->setVisible(i == corner);
}

void CGeneralPage::Store(SPropertiesValues& v) const {
    v.m_bStartOnInit = m_pStartOnInit->isChecked();
    v.m_bAlwaysOnTop = m_pAlwaysOnTop->isChecked();
    v.m_bStartMinimized = m_pStartMinimized->isChecked();
    v.m_bMinimizeOnClose = m_pMinimizeOnClose->isChecked();
    v.m_nCornerPosition = -1;
    if (m_pLock->isChecked())
        for (int i = 0; i < 4; ++i)
            if (m_corners[static_cast<size_t>(i)]->isChecked())
                v.m_nCornerPosition = i;
}
