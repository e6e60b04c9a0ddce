#pragma once

#include "app/parts/Category.h"

#include <QKeySequence>
#include <QMainWindow>
#include <QPointer>

class AppStore;
class Banner;
class BusyIndicator;
class Preferences;
class PullDownButton;
class QLineEdit;
class QVBoxLayout;
class RuntimePicker;
class Sidebar;
class ToolchainStore;

// The main window: the sidebar on the left; on the right the chosen section's screen under the error,
// notice and update banners; the runtime picker, refresh, "Add project", the busy indicator and the
// filter in the toolbar. It changes the application only through the stores; the section it shows is
// the "category" preference. Showing and hiding it is reported to the store.
class ContentView : public QMainWindow {
    Q_OBJECT

public:
    ContentView(AppStore& store, ToolchainStore& toolchain, Preferences& preferences,
                QWidget* parent = nullptr);

    Category category() const { return m_category; }
    void setCategory(Category category);
    // The screen of the chosen section.
    QWidget* detail() const { return m_detail; }
    Sidebar* sidebar() const { return m_sidebar; }
    Banner* errorBanner() const { return m_errorBanner; }
    Banner* noticeBanner() const { return m_noticeBanner; }
    Banner* updateBanner() const { return m_updateBanner; }

    static constexpr int defaultWidth = 1080;
    static constexpr int defaultHeight = 700;
    // The keys of the Quit command; the application honours them in every one of its windows.
    static QKeySequence quitShortcut() { return QKeySequence(Qt::CTRL | Qt::Key_Q); }

signals:
    // The Settings window was asked for (menu, Ctrl+, or the update banner).
    void settingsRequested();
    void quitRequested();
    void shown();
    void closed();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildToolbar();
    void buildMenu();
    void showSection();
    void followBusy();
    void followFilter();
    void followBanners();
    void followUpdates();
    void refreshNow();

    AppStore& m_store;
    ToolchainStore& m_toolchain;
    Preferences& m_preferences;
    Category m_category;
    Sidebar* m_sidebar;
    Banner* m_errorBanner;
    Banner* m_noticeBanner;
    Banner* m_updateBanner;
    QVBoxLayout* m_detailLayout;
    QPointer<QWidget> m_detail;
    RuntimePicker* m_picker = nullptr;
    PullDownButton* m_addProject = nullptr;
    QAction* m_addProjectItem = nullptr;
    BusyIndicator* m_busy = nullptr;
    QAction* m_busyItem = nullptr;
    QLineEdit* m_filter = nullptr;
};
