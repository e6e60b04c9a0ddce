#pragma once

#include "app/parts/Host.h"
#include "platform/FolderContents.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>

#include <optional>

class QComboBox;
class QCompleter;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QStringListModel;
class VoskButton;

// The application's own chooser, for a folder or for the file to save to, where the desktop offers no
// chooser of its own. It never looks at the disk on the window's thread: what a folder holds, the
// completion of a typed path, the places and the file a save would replace are looked at on the disk
// pool, within the limit of any look at a user's folder; a folder on a mount that stalls says it does not
// answer while the window goes on answering. Ctrl+H shows or hides the hidden folders; Alt+Up, and
// Backspace outside a text field, go to the parent folder. A folder picked is handed back as a path, not
// looked at: whoever takes it looks at it off the window's thread too.
class FolderChooser : public QDialog {
    Q_OBJECT

public:
    // Chooses a folder as `request` asks.
    explicit FolderChooser(const Host::FolderRequest& request, QWidget* parent = nullptr);
    // Chooses where to save a file, offering `suggestedName` in `startIn`.
    FolderChooser(const QString& suggestedName, const QString& startIn, QWidget* parent = nullptr);

    // The folder picked (the entry selected in the list, else the path typed); saving, the file's path.
    QString chosenPath() const;
    // The pop-up's entry; none without a pop-up.
    std::optional<int> choice() const;
    // Shows `folder` and lists what is in it.
    void go(const QString& folder);
    void goUp();
    const QString& folder() const { return m_folder; }
    // The line under the list: what is being looked at, or why nothing is listed.
    QString status() const;
    bool showsHidden() const { return m_showHidden; }
    void setShowsHidden(bool show);
    // The places offered beside the list, as "name\tpath".
    QStringList places() const;

    static QString defaultTitle() { return QStringLiteral("Choose a Folder"); }

signals:
    // The places have been looked at (for tests: they come off the window's thread).
    void placesShown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    // Tab goes from the path to the list and on to the button that chooses, then to the rest.
    bool focusNextPrevChild(bool next) override;

private:
    enum class Mode { folder, save };

    FolderChooser(Mode mode, const Host::FolderRequest& request, const QString& suggestedName,
                  QWidget* parent);

    // A path as typed: "~" for the home folder, and relative to the folder shown.
    QString resolved(const QString& typed) const;
    void typedReturn();
    void makeFolder();
    void confirm();
    void showStatus(const QString& text);
    void showListing();
    void complete(const QString& typed);
    void addPlace(const QString& name, const QString& path);
    void entryChosen(QListWidgetItem* item);
    static QCoro::Task<> list(QPointer<FolderChooser> chooser, QString folder, quint64 serial);
    static QCoro::Task<> make(QPointer<FolderChooser> chooser, QString parent, QString name);
    static QCoro::Task<> lookForCompletion(QPointer<FolderChooser> chooser, QString folder,
                                           QString typedFolder);
    static QCoro::Task<> lookForPlaces(QPointer<FolderChooser> chooser);
    static QCoro::Task<> checkSaveTarget(QPointer<FolderChooser> chooser, QString path);

    Mode m_mode;
    QString m_folder;
    quint64 m_serial = 0; // of the listing whose answer the dialog waits for
    Platform::FolderListing m_listing;
    bool m_showHidden = false;
    bool m_checking = false; // a save's target is being looked at
    QString m_savePath;
    QString m_completionFolder; // whose folders the completer offers
    QLineEdit* m_path;
    QLineEdit* m_name = nullptr;
    QListWidget* m_list;
    QListWidget* m_places;
    QLabel* m_status;
    QComboBox* m_choices = nullptr;
    QLineEdit* m_newName = nullptr;
    VoskButton* m_create = nullptr;
    VoskButton* m_up;
    VoskButton* m_cancel;
    QCompleter* m_completer;
    QStringListModel* m_completions;
    VoskButton* m_accept;
};
