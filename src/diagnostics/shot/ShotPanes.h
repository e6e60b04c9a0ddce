#pragma once

#include "app/parts/Category.h"
#include "engine/Teardown.h"
#include "engine/Usage.h"
#include "toolchain/Tool.h"

#include <QList>
#include <QSet>
#include <QString>

#include <memory>

class AppStore;
class Preferences;
class QWidget;

namespace Platform {
class Settings;
}

// The views the screenshots are taken of, each made of the application's own screens and sheets over
// the fixture store. Nothing in them acts: a picture cannot be clicked. Whoever renders one gives it
// its size.
namespace ShotPanes {

// The update the update strip offers.
inline constexpr auto updateText = "Apple container 1.5.0 is available";

// The main window without its toolbar: the sidebar (210 wide, 190 when `narrow`), a rule, and the
// section's content under the error, notice and update strips when `banner` is set.
std::unique_ptr<QWidget> screen(AppStore& store, Category category, bool banner, bool narrow);
std::unique_ptr<QWidget> projectDetail(AppStore& store);
// The delete sheet's title and plan for storefront, with a plan of its own and the Trash chosen.
std::unique_ptr<QWidget> deleteSheet(AppStore& store);
// The reclaim sheet as measured, with the choice below ticked.
std::unique_ptr<QWidget> reclaimSheet(AppStore& store);
// The runtime tools as the Settings window shows them, over a toolchain store of the pane's own on
// `settings`: with an update waiting when `stale`, else with hardly anything known.
std::unique_ptr<QWidget> toolsPane(Platform::Settings& settings, Preferences& preferences, bool stale);

// The plan the delete picture shows, under `project`'s name: storefront's containers and volumes.
TeardownPlan deletePlan(const QString& project);
// The candidates ticked in the reclaim picture: a failed worker, an old project's container and an
// image built here, as far as `candidates` has them.
QSet<QString> reclaimChoice(const QList<Reclaimable>& candidates);
// The four tools of the tools pane.
QList<Tool> tools(bool stale);

} // namespace ShotPanes
