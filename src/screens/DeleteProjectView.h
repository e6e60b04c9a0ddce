#pragma once

#include "engine/ComposeProject.h"
#include "engine/Teardown.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>

#include <memory>
#include <optional>

namespace Platform {
class Cancellation;
}

class AppStore;
class BusyIndicator;
class DeleteProjectContent;
class QStackedLayout;
class VoskButton;

// The sheet that deletes a compose project: it works out what would go (the teardown plan), shows it,
// lets the user choose to move the project's folder to the Trash too, and on confirmation has the store
// tear the project down. It always acts on the whole project, whatever part of it a filter shows.
//
// Failures are not the sheet's to show: the store puts them into its error banner and the sheet closes
// when the work ends. A project whose containers changed since its plan was made is planned again
// instead, and the sheet stays open with the new plan for the user to confirm. While the deletion runs,
// nothing closes the sheet: not Cancel, not Escape, not the window's close button.
class DeleteProjectView final : public QDialog {
    Q_OBJECT

public:
    static constexpr QSize size{560, 520};

    // With a preview plan the sheet shows that plan and asks the store for none.
    DeleteProjectView(AppStore& store, const ComposeProject& project,
                      std::optional<TeardownPlan> previewPlan = std::nullopt, QWidget* parent = nullptr);
    ~DeleteProjectView() override;

    // The sheet's title row: the trash symbol and "Delete <name>". The screenshots put it over the
    // plan on its own.
    static QWidget* header(const QString& projectName, QWidget* parent);

    // Shows the sheet for `project` over the window of `over`.
    static DeleteProjectView* open(QWidget* over, AppStore& store, const ComposeProject& project);

    // The project as the sheet acts on it: all its containers, even those a filter hides.
    const ComposeProject& project() const { return m_project; }
    // None while it is being worked out.
    const std::optional<TeardownPlan>& plan() const { return m_plan; }
    bool trashDirectory() const { return m_trashDirectory; }
    void setTrashDirectory(bool on);
    bool working() const { return m_working; }

    // The delete button's text: what goes, counted ("Delete 2 containers + 1 volume + files"), or
    // "Remove from Voskel" when only the project's entry goes.
    static QString deleteLabel(const std::optional<TeardownPlan>& plan, bool trashDirectory);

    // Has the store carry the plan out; nothing while there is no plan or the work already runs.
    void confirm();
    // Cancel, Escape and the window's close button; nothing while the deletion runs.
    void reject() override;
    // However the sheet closes, what still works out its plan is ended.
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setPlan(const TeardownPlan& plan);
    // Fills in the volume sizes the store's disk usage has; asks it to measure, once, when it has not.
    void fillSizes();
    void setWorking(bool working);
    // Puts the focus, and the ring that shows it, on Cancel.
    void ringCancel();
    void updateFooter();

    // The plan the store made again when the one shown no longer held, shown in its place and saying so.
    void showChanged(TeardownPlan plan);

    static QCoro::Task<> workOut(QPointer<DeleteProjectView> view, QPointer<AppStore> store,
                                 ComposeProject project, std::shared_ptr<Platform::Cancellation> cancel);
    static QCoro::Task<> carryOut(QPointer<DeleteProjectView> view, QPointer<AppStore> store,
                                  TeardownPlan plan, std::optional<Runtime> on, bool trashDirectory);

    AppStore& m_store;
    ComposeProject m_project;
    bool m_preview;
    std::optional<TeardownPlan> m_plan;
    bool m_trashDirectory = false;
    bool m_working = false;
    bool m_started = false;
    bool m_askedForUsage = false;
    // Ends the engine queries of the plan when the sheet closes before they are through.
    std::shared_ptr<Platform::Cancellation> m_planning;

    QStackedLayout* m_body;
    DeleteProjectContent* m_content = nullptr;
    BusyIndicator* m_busy;
    VoskButton* m_cancel;
    VoskButton* m_delete;
};
