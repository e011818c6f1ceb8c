#include "ui/BlankPropertiesPage.h"

CBlankPropertiesPage::CBlankPropertiesPage(CClientApp& app, QWidget* parent) : QWidget(parent) {
    (void)app;
}

void CBlankPropertiesPage::Store(SPropertiesValues& values) const {
    (void)values;
}
