#include "ui/RoundedDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainterPath>
#include <QPalette>
#include <QPushButton>
#include <QRegion>
#include <QWindow>

#include "platform/StringTable.h"
#include "ui/UiText.h"

CRoundedDialog::CRoundedDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(windowFlags() | Qt::FramelessWindowHint);
    setAutoFillBackground(true);
}

QHBoxLayout* CRoundedDialog::MakeButtonRow(QPushButton*& ok, QPushButton** cancel, bool centred) {
    ok = new QPushButton(LoadText(IDS_BUTTON_OK), this);
    ok->setObjectName("ok");
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(ok);
    if (cancel != nullptr) {
        *cancel = new QPushButton(LoadText(IDS_BUTTON_CANCEL), this);
        (*cancel)->setObjectName("cancel");
        connect(*cancel, &QPushButton::clicked, this, &QDialog::reject);
        row->addWidget(*cancel);
    }
    if (centred)
        row->addStretch();
    return row;
}

void CRoundedDialog::SetDialogColors(uint32_t background, uint32_t text) {
    QPalette p = QApplication::palette();
    const QColor bg = QColor::fromRgb(static_cast<QRgb>(background));
    const QColor fg = QColor::fromRgb(static_cast<QRgb>(text));
    p.setColor(QPalette::Window, bg);
    p.setColor(QPalette::Button, bg);
    p.setColor(QPalette::WindowText, fg);
    p.setColor(QPalette::ButtonText, fg);
    p.setColor(QPalette::Text, fg);
    QApplication::setPalette(p);
}

void CRoundedDialog::resizeEvent(QResizeEvent* e) {
    QDialog::resizeEvent(e);
    UpdateRegion();
}

void CRoundedDialog::UpdateRegion() {
    // Offscreen there is nothing to clip, and the platform would complain on every resize.
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        return;
    QPainterPath path;
    path.addRoundedRect(QRectF(rect()), kCorner / 2.0, kCorner / 2.0);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void CRoundedDialog::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton || !CanMove()) {
        QDialog::mousePressEvent(e);
        return;
    }
    // The desktop moves the window where it can; elsewhere (offscreen, some X servers) we do.
    if (windowHandle() != nullptr && windowHandle()->startSystemMove())
        return;
    m_bDragging = true;
    m_dragOffset = e->globalPosition().toPoint() - pos();
}

void CRoundedDialog::mouseMoveEvent(QMouseEvent* e) {
    if (m_bDragging && (e->buttons() & Qt::LeftButton) && CanMove()) {
        move(e->globalPosition().toPoint() - m_dragOffset);
        return;
    }
    QDialog::mouseMoveEvent(e);
}

void CRoundedDialog::mouseReleaseEvent(QMouseEvent* e) {
    m_bDragging = false;
    QDialog::mouseReleaseEvent(e);
}
