#pragma once

#include "device/DeviceInfo.h"
#include "update/Component.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <optional>

namespace PelkPlus {

// The plan of the last check for the device's updates, the entry of it being worked on, and the
// catalogue data the plan was made from: a re-plan after an update or a failure rests on that
// check, not on manifest data that a check for a newer updater may have cleared since.
class WorkflowPlan
{
public:
    WorkflowPlan() = default;

    QList<Component>& components() { return entries; }
    const QList<Component>& components() const { return entries; }
    QStringList warnings() const { return planWarnings; }
    QDateTime lastChecked() const { return checkTime; }
    bool isSourceVerified() const { return sourceVerified; }

    // Forgets the plan, its warnings, its time and its current entry; the source is kept.
    void reset();
    // A manifest is being fetched: the next plan is made from what it brings.
    void beginFetch();
    void endFetch() { fetching = false; }
    bool isFetching() const { return fetching; }
    // Whether the next plan needs the catalogue's data: after a fetch, or when none is kept.
    bool needsSource() const { return freshManifest || !source; }
    // The device's product's components from the catalogue, its time and whether it was signed.
    void setSource(const QList<Component>& components, const QDateTime& time, bool verified);
    bool hasSource() const { return source.has_value(); }
    // Another device is checked afresh.
    void forgetSource() { source.reset(); }
    // Plans the device's update from the source kept; false when nothing is to be installed.
    bool make(const DeviceInfo& info, bool forceAll);
    // A file chosen on this computer becomes the whole plan.
    void setSingle(const Component& component) { entries = { component }; }

    // The entry being worked on, by index; -1 and null outside an update's steps.
    int currentIndex() const { return current; }
    Component* currentEntry();
    // Moves to the next entry; false, after clearing the plan, when none is left.
    bool advance();
    void rewind() { current = -1; }

private:
    QList<Component> entries;
    QStringList planWarnings;
    QDateTime checkTime;
    int current = -1;
    std::optional<QList<Component>> source;
    QDateTime sourceTime;
    bool sourceVerified = false;
    bool fetching = false;
    bool freshManifest = false;
};

} // namespace PelkPlus
