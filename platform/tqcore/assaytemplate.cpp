#include "tqcore/assaytemplate.h"

AssayItem::AssayItem(const QString& name, const QString& friendlyName, QObject* parent)
    : QObject(parent)
    , m_name(name)
    , m_friendlyName(friendlyName)
{
}

AssayTemplate::AssayTemplate(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
{
}

AssayItem* AssayTemplate::addItem(const QString& name, const QString& friendlyName)
{
    auto* item = new AssayItem(name, friendlyName, this);
    m_items.append(item);
    return item;
}

AssayTemplateManager::AssayTemplateManager(QObject* parent)
    : QObject(parent)
{
    AssayTemplate* pt = addAssay(QStringLiteral("PT"));
    pt->addItem(QStringLiteral("INR"), QStringLiteral("INR"));
    pt->addItem(QStringLiteral("PT%"), QStringLiteral("PT%"));
    addAssay(QStringLiteral("APTT"));
    addAssay(QStringLiteral("TT"));
    addAssay(QStringLiteral("FIB"));
}

AssayTemplate* AssayTemplateManager::findAssay(const QString& name) const
{
    for (AssayTemplate* t : m_templates) {
        if (t->name() == name)
            return t;
    }
    return nullptr;
}

AssayTemplate* AssayTemplateManager::addAssay(const QString& name)
{
    if (AssayTemplate* existing = findAssay(name))
        return existing;
    auto* t = new AssayTemplate(name, this);
    t->addItem(name, name);
    m_templates.append(t);
    return t;
}

AssayItem* AssayTemplateManager::findAssayItem(const QString& name, const AssayTemplate* tmpl) const
{
    for (AssayTemplate* t : m_templates) {
        if (tmpl && t != tmpl)
            continue;
        for (AssayItem* item : t->items()) {
            if (item->name() == name)
                return item;
        }
    }
    return nullptr;
}

AssayManager::AssayManager(QObject* parent)
    : AssayTemplateManager(parent)
{
}
