// CBlankPropertiesPage: an empty page of the properties sheet. It shows nothing and hands over nothing,
// so the values in force stay as they are.
#pragma once

#include <QWidget>

#include "app/PropertiesValues.h"

class CClientApp;

class CBlankPropertiesPage : public QWidget {
    Q_OBJECT
public:
    CBlankPropertiesPage(CClientApp& app, QWidget* parent);
    void Store(SPropertiesValues& values) const;
};
