#pragma once

#include "tqcore/tqcore_global.h"

#include <QList>
#include <QObject>
#include <QString>

// One reported item of an assay (e.g. the PT seconds, the INR).
class TQCORE_EXPORT AssayItem : public QObject
{
    Q_OBJECT

public:
    AssayItem(const QString& name, const QString& friendlyName, QObject* parent = nullptr);

    QString name() const { return m_name; }
    // The name shown to the user; the name itself when none was given.
    QString friendlyName() const { return m_friendlyName.isEmpty() ? m_name : m_friendlyName; }

private:
    QString m_name;
    QString m_friendlyName;
};

// An assay the host knows (PT, APTT, ...) with its reported items. The
// template's first item has the template's own name.
class TQCORE_EXPORT AssayTemplate : public QObject
{
    Q_OBJECT

public:
    explicit AssayTemplate(const QString& name, QObject* parent = nullptr);

    QString name() const { return m_name; }
    QList<AssayItem*> items() const { return m_items; }
    AssayItem* addItem(const QString& name, const QString& friendlyName);

private:
    QString m_name;
    QList<AssayItem*> m_items;
};

// The host's assay templates. Created with the defaults PT, APTT, TT, FIB
// (PT also reports "INR" and "PT%").
class TQCORE_EXPORT AssayTemplateManager : public QObject
{
    Q_OBJECT

public:
    explicit AssayTemplateManager(QObject* parent = nullptr);

    // Every template, in the order added.
    QList<AssayTemplate*> assay() const { return m_templates; }
    AssayTemplate* findAssay(const QString& name) const;
    AssayTemplate* addAssay(const QString& name);
    // The item of that name in tmpl, or in any template when tmpl is null.
    AssayItem* findAssayItem(const QString& name, const AssayTemplate* tmpl) const;

private:
    QList<AssayTemplate*> m_templates;
};

// What Workbench::assayManager() hands out.
class TQCORE_EXPORT AssayManager : public AssayTemplateManager
{
    Q_OBJECT

public:
    explicit AssayManager(QObject* parent = nullptr);
};
