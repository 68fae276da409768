#include "tqcore/resource.h"

#include <algorithm>
#include <utility>

Resource::Resource(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
{
}

Resource::~Resource()
{
    if (m_position && m_position->m_resource == this)
        m_position->m_resource = nullptr;
}

ResourcePosition* Resource::position() const
{
    return m_position;
}

void Resource::setVolumePercent(double fraction)
{
    fraction = std::clamp(fraction, 0.0, 1.0);
    if (fraction == m_volume)
        return;
    m_volume = fraction;
    emit changed();
}

bool Resource::moveTo(const QString& positionName)
{
    if (!m_manager)
        return false;
    ResourcePosition* target = m_manager->position(positionName);
    if (!target)
        return false;
    if (target->m_resource && target->m_resource != this)
        return false;
    if (m_position && m_position != target)
        m_position->m_resource = nullptr;
    target->m_resource = this;
    m_position = target;
    emit changed();
    return true;
}

void Resource::removeFromPosition()
{
    if (!m_position)
        return;
    if (m_position->m_resource == this)
        m_position->m_resource = nullptr;
    m_position = nullptr;
    emit changed();
}

bool Resource::isIncluded() const
{
    return m_included && m_position;
}

Reagent::Reagent(const QString& name, QObject* parent)
    : Resource(name, parent)
{
}

ResourcePosition::ResourcePosition(const QString& name, QObject* parent)
    : QObject(parent)
    , m_name(name)
{
}

ResourceManager::ResourceManager(QObject* parent)
    : QObject(parent)
{
    auto add = [this](QChar letter, int count) {
        for (int i = 1; i <= count; ++i)
            m_positions.append(new ResourcePosition(QStringLiteral("%1%2").arg(letter).arg(i), this));
    };
    add(QLatin1Char('A'), 20);
    add(QLatin1Char('B'), 20);
    add(QLatin1Char('R'), 24);
    add(QLatin1Char('Z'), 2);
}

ResourceManager::~ResourceManager()
{
    // Resources first, while their positions still exist.
    const QList<Resource*> resources = std::exchange(m_resources, {});
    qDeleteAll(resources);
}

void ResourceManager::addResource(Resource* resource)
{
    if (!resource || m_resources.contains(resource))
        return;
    resource->setParent(this);
    resource->m_manager = this;
    m_resources.append(resource);
    connect(resource, &QObject::destroyed, this, [this, resource] { m_resources.removeOne(resource); });
    connect(resource, &Resource::changed, this, &ResourceManager::changed);
    emit changed();
}

void ResourceManager::removeResource(Resource* resource)
{
    if (!m_resources.removeOne(resource))
        return;
    resource->removeFromPosition();
    delete resource;
    emit changed();
}

ResourcePosition* ResourceManager::position(const QString& name) const
{
    for (ResourcePosition* p : m_positions) {
        if (p->name() == name)
            return p;
    }
    return nullptr;
}

Resource* ResourceManager::resource(const QString& name) const
{
    for (Resource* r : m_resources) {
        if (r->name() == name)
            return r;
    }
    return nullptr;
}

ReagentManager::ReagentManager(QObject* parent)
    : QObject(parent)
{
}

Reagent* ReagentManager::createReagent(Workbench* workbench, const QString& name, QObject* parent)
{
    Q_UNUSED(workbench);
    return new Reagent(name, parent);
}
