#pragma once

#include "engine/Runtime.h"

#include <QCoroTask>
#include <QDialog>
#include <QList>
#include <QPointer>

#include <optional>

class AppStore;
class CommandRunView;
class Preferences;
class QComboBox;
class QLineEdit;
class VoskButton;
class VoskLabel;

// The form that clones a git repository as a new project: the address, the folder to clone into (a
// folder of its own, named after the repository, inside the chosen parent, which is remembered) and
// the runtime to add the project to. Cloning hands over to the command output sheet, which streams git
// as it works; once the user closes that, a clone that git finished is added as a project.
class CloneProjectView final : public QDialog {
    Q_OBJECT

public:
    static constexpr int width = 480;

    explicit CloneProjectView(AppStore& store, QWidget* parent = nullptr);
    ~CloneProjectView() override;

    // Shows the form over the window of `over`.
    static CloneProjectView* open(QWidget* over, AppStore& store);

    QString url() const;
    // The folder the repository is cloned into (the remembered choice, the home folder at first).
    QString parentFolder() const;
    // The new folder: the parent, "/" and the repository's folder name; none without a name.
    std::optional<QString> target() const;
    const std::optional<Runtime>& runtime() const { return m_runtime; }
    // Why the form will not clone now, as its note says it; none when it will, or while the target is
    // still being looked at (the form does not clone then either).
    std::optional<QString> refusal() const;

    // Starts the clone when the form allows it: the output sheet opens over this form's window and the
    // form closes. Returns that sheet, or null when nothing started.
    CommandRunView* clone();
    // The folder chooser for the parent folder.
    void chooseParent();

    // What closing the output sheet does: a clone that git finished (status 0) into `dir` that holds a
    // repository is added as a project on `runtime`; the store's answer, when it refuses, goes to its
    // error banner. A clone still running, cancelled or failed adds nothing and says nothing more.
    static QCoro::Task<> add(QPointer<AppStore> store, QString dir, std::optional<Runtime> runtime,
                             std::optional<int> gitStatus);

protected:
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

private:
    void follow();
    void fillRuntimes();
    void fitHeight();

    static QCoro::Task<> askForParent(QPointer<CloneProjectView> view);
    // Whether something is at the target already, looked at off the window's thread.
    static QCoro::Task<> lookAtTarget(QPointer<CloneProjectView> view, QString path);
    // The target's look came back and found nothing there.
    bool targetFree() const;

    AppStore& m_store;
    Preferences* m_preferences;
    std::optional<Runtime> m_runtime;
    QList<Runtime> m_runtimes; // what the picker lists, in its order
    // The last target looked at, and what the look found: whether it answered, and something is there.
    struct TargetLook {
        QString path;
        bool done = false;
        bool answered = false;
        bool taken = false;
    };
    TargetLook m_look;
    bool m_lookingAtTarget = false;

    QLineEdit* m_url;
    VoskLabel* m_into;
    QComboBox* m_picker;
    VoskLabel* m_note;
    VoskButton* m_clone;
};
