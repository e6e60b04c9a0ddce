#pragma once

#include "app/design/Appearance.h"
#include "app/parts/Category.h"

#include <QObject>
#include <QString>

namespace Platform {
class Settings;
}

// The preferences the windows share, typed and with their defaults, over one settings object. Every
// window of the process holds the same Preferences, so a change made in one (the Settings window's
// appearance, say) is heard by all. Writing the value already stored changes nothing and notifies
// nobody; a value changed by anyone else on the same settings object is announced too.
class Preferences : public QObject {
    Q_OBJECT

public:
    static constexpr const char* appearanceKey = "appearance";
    static constexpr const char* showMenuBarKey = "showMenuBar";
    static constexpr const char* checkUpdatesAtLaunchKey = "checkUpdatesAtLaunch";
    static constexpr const char* categoryKey = "category";
    static constexpr const char* cloneParentKey = "cloneParent";
    static constexpr const char* builderCPUsKey = "builderCPUs";
    static constexpr const char* builderMemoryGBKey = "builderMemoryGB";

    // `settings` must outlive the preferences.
    explicit Preferences(Platform::Settings& settings, QObject* parent = nullptr);

    Platform::Settings& settings() const { return m_settings; }

    // Default automatic; an unknown stored text reads as the default.
    Appearance appearance() const;
    void setAppearance(Appearance appearance);
    // Default true.
    bool showMenuBar() const;
    void setShowMenuBar(bool show);
    // Default true.
    bool checkUpdatesAtLaunch() const;
    void setCheckUpdatesAtLaunch(bool check);
    // Default projects; an unknown stored text reads as the default.
    Category category() const;
    void setCategory(Category category);
    // Where repositories are cloned into; default the home folder (as it is when asked).
    QString cloneParent() const;
    void setCloneParent(const QString& folder);
    // Processors and gigabytes for the image builder's next start; 0 means the builder's own default.
    int builderCPUs() const;
    void setBuilderCPUs(int cpus);
    int builderMemoryGB() const;
    void setBuilderMemoryGB(int gigabytes);

signals:
    void appearanceChanged();
    void showMenuBarChanged();
    void checkUpdatesAtLaunchChanged();
    void categoryChanged();
    void cloneParentChanged();
    void builderCPUsChanged();
    void builderMemoryGBChanged();

private:
    void settingChanged(const QString& key);

    Platform::Settings& m_settings;
};
