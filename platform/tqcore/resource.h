#pragma once

#include "tqcore/tqcore_global.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

class ResourceManager;
class ResourcePosition;
class Workbench;

// Something that stands on the analyzer's racks: a reagent bottle, a diluent.
// Volumes are fractions of a full bottle, 0 to 1 (values outside are clamped).
// Resources are used in the GUI thread only.
class TQCORE_EXPORT Resource : public QObject
{
    Q_OBJECT

public:
    explicit Resource(const QString& name, QObject* parent = nullptr);
    ~Resource() override;

    QString name() const { return m_name; }
    // The position it stands at; null while it stands nowhere.
    ResourcePosition* position() const;

    double volumePercent() const { return m_volume; }
    void setVolumePercent(double fraction);

    // Moves it to the named position of the manager it was added to, taking
    // it from its old position. False (and nothing moves) when it belongs to
    // no manager, the name is unknown or another resource stands there.
    bool moveTo(const QString& positionName);
    // Takes it off its position.
    void removeFromPosition();

    // A permanent resource (buffer, rinse) is never taken off by the user.
    void setPermanent(bool permanent) { m_permanent = permanent; }
    bool isPermanent() const { return m_permanent; }

    // Included in the instrument's reagent table: it stands at a position
    // and is not excluded by setIncluded(false).
    bool isIncluded() const;
    void setIncluded(bool included) { m_included = included; }

    ResourceManager* manager() const { return m_manager; }

signals:
    void changed();

private:
    friend class ResourceManager;
    QString m_name;
    double m_volume = 1.0;
    bool m_permanent = false;
    bool m_included = true;
    QPointer<ResourceManager> m_manager;
    QPointer<ResourcePosition> m_position;
};

// A reagent bottle. Types are the host's: 0 reagent, 1 diluent, 2 buffer,
// 3 rinse liquid.
class TQCORE_EXPORT Reagent : public Resource
{
    Q_OBJECT

public:
    enum Type { NormalReagent = 0, Diluent = 1, Buffer = 2, Rinse = 3 };

    explicit Reagent(const QString& name, QObject* parent = nullptr);

    int type() const { return m_type; }
    void setType(int type) { m_type = type; }

private:
    int m_type = NormalReagent;
};

// One place on the analyzer, named as the analyzer's position codes expect:
// a letter and a number (A1, R12, Z2).
class TQCORE_EXPORT ResourcePosition : public QObject
{
    Q_OBJECT

public:
    explicit ResourcePosition(const QString& name, QObject* parent = nullptr);

    QString name() const { return m_name; }
    // What stands here; null when empty.
    Resource* resource() const { return m_resource; }

private:
    friend class Resource;
    QString m_name;
    QPointer<Resource> m_resource;
};

// The analyzer's positions and the resources standing on them.
//
// Fixed layout, in this order: sample positions A1..A20 and B1..B20,
// reagent positions R1..R24, and the two places of the permanent liquids,
// Z1 (buffer) and Z2 (rinse).
class TQCORE_EXPORT ResourceManager : public QObject
{
    Q_OBJECT

public:
    explicit ResourceManager(QObject* parent = nullptr);
    ~ResourceManager() override;

    // Takes ownership (the resource becomes a child of the manager) and lets
    // the resource move to the manager's positions. Adding twice does nothing.
    void addResource(Resource* resource);
    // Takes it off its position and deletes it.
    void removeResource(Resource* resource);
    QList<Resource*> resources() const { return m_resources; }

    // Every position in layout order.
    QList<ResourcePosition*> positions() const { return m_positions; }
    // The position of that name (case-sensitive); null when there is none.
    ResourcePosition* position(const QString& name) const;
    // The first resource of that name; null when there is none.
    Resource* resource(const QString& name) const;

signals:
    void changed();

private:
    QList<ResourcePosition*> m_positions;
    QList<Resource*> m_resources;
};

// Makes reagents for the host.
class TQCORE_EXPORT ReagentManager : public QObject
{
    Q_OBJECT

public:
    explicit ReagentManager(QObject* parent = nullptr);

    // A new reagent of that name, type 0 and a full bottle, child of parent.
    // It is not added to any resource manager.
    Reagent* createReagent(Workbench* workbench, const QString& name, QObject* parent);
};
