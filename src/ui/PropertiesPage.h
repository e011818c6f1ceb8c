// A page of the properties sheet as the sheet sees it: its widget, how it hands over its values when the
// sheet applies, and how it stops what it runs (the video page's preview) when the sheet closes. Any page
// class with `void Store(SPropertiesValues&) const` fits; one with `void StopPreview()` is stopped too.
#pragma once

#include <QWidget>
#include <functional>

#include "app/PropertiesValues.h"

struct SPropertiesPage {
    QWidget* m_pWidget = nullptr;
    std::function<void(SPropertiesValues&)> m_store;
    std::function<void()> m_stop;
};

template <class TPage>
SPropertiesPage PropertiesPage(TPage* page) {
    SPropertiesPage p;
    p.m_pWidget = page;
    p.m_store = [page](SPropertiesValues& values) { page->Store(values); };
    if constexpr (requires { page->StopPreview(); })
        p.m_stop = [page] { page->StopPreview(); };
    return p;
}
