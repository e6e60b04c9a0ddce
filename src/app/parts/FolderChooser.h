#pragma once

#include "app/parts/Host.h"

#include <QCoroTask>
#include <QDialog>
#include <QPointer>

#include <optional>

class QComboBox;
class QKeyEvent;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QWidget;

// A folder chooser that never looks at the disk on the window's thread. What a folder holds is listed on
// the disk pool, within the limit of any look at a user's folder; one on a mount that stalls says it does
// not answer while the window goes on answering. The folder picked is handed back as a path, not looked
// at: whoever takes it looks at it off the window's thread too.
class FolderChooser : public QDialog {
    Q_OBJECT

public:
    explicit FolderChooser(const Host::FolderRequest& request, QWidget* parent = nullptr);

    // The folder picked: the entry selected in the list, else the path typed.
    QString chosenPath() const;
    // The pop-up's entry; none without a pop-up.
    std::optional<int> choice() const;
    // Shows `folder` and lists the folders in it.
    void go(const QString& folder);
    const QString& folder() const { return m_folder; }
    // The line under the list: what is being looked at, or why nothing is listed.
    QString status() const;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    struct Listing {
        bool folder = false;
        QStringList folders;
    };

    // A path as typed: "~" for the home folder, and relative to the folder shown.
    QString resolved(const QString& typed) const;
    void typedReturn();
    void makeFolder();
    void showStatus(const QString& text);
    static QCoro::Task<> list(QPointer<FolderChooser> chooser, QString folder, quint64 serial);
    static QCoro::Task<> make(QPointer<FolderChooser> chooser, QString parent, QString name);

    QString m_folder;
    quint64 m_serial = 0; // of the listing whose answer the dialog waits for
    QLineEdit* m_path;
    QListWidget* m_list;
    QLabel* m_status;
    QComboBox* m_choices = nullptr;
    QLineEdit* m_newName = nullptr;
    QPushButton* m_accept;
};
